#include "HttpFront.h"

#include "AbuseMeter.h"
#include "ApiTypes.h"
#include "ConnectionWatch.h"
#include "RequestLog.h"
#include "ServerLog.h"
#include "SyncService.h"
#include "WorkerPool.h"

#include "support/PayloadLimit.h"

#include <QFile>
#include <QHash>
#include <QList>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <cstdarg>
#include <cstring>
#include <microhttpd.h>
#include <netdb.h>
#include <optional>
#include <strings.h>
#include <sys/socket.h>

namespace {

constexpr int kWorkerThreads = 16;
constexpr int kMaxQueryPairs = 32;
// A body may take this long after its head, at the idle timeout between its bytes.
constexpr int kBodySeconds = 120;
// The upload form: the largest payload plus room for its text fields.
constexpr qint64 kMaxFormBody = kMaxPayloadBytes + 256 * 1024;
// A body this far past its limit is still read (and dropped) so that the client, which is
// still sending, receives the 413 instead of a reset connection; beyond it, the connection
// is closed after the answer.
constexpr qint64 kDiscardBytes = 8 * 1024 * 1024;

QString fromUtf8(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

// The pairs of the request line's query, decoded the way HTML forms encode them ("+" is a
// space). Only the query counts, never a form-encoded body.
QList<std::pair<QString, QString>> queryPairs(const QByteArray &target)
{
    QList<std::pair<QString, QString>> pairs;
    const qsizetype mark = target.indexOf('?');
    if (mark < 0)
        return pairs;
    for (const QByteArray &pair : target.mid(mark + 1).split('&')) {
        if (pair.isEmpty())
            continue;
        const qsizetype equals = pair.indexOf('=');
        QByteArray key = equals < 0 ? pair : pair.left(equals);
        QByteArray value = equals < 0 ? QByteArray() : pair.mid(equals + 1);
        key.replace('+', ' ');
        value.replace('+', ' ');
        pairs.append({QString::fromUtf8(QByteArray::fromPercentEncoding(key)),
                      QString::fromUtf8(QByteArray::fromPercentEncoding(value))});
    }
    return pairs;
}

ApiReply jsonError(int status)
{
    return {status, "{\"code\":" + QByteArray::number(status) + '}'};
}

// One request on its way through the front: created when its request line arrives, deleted
// when the library is done with it.
struct Request {
    QByteArray target; // the raw request target, with its query
    QString path; // the decoded path, for the log
    bool started = false;
    bool dispatched = false;
    qint64 limit = 0;
    qint64 received = 0;
    ApiRequest api;
    QList<std::pair<QString, QString>> query;
    MHD_PostProcessor *form = nullptr;
    bool formBroken = false;
    bool discarding = false; // past the limit: the rest is read and dropped, then 413
    std::optional<ApiReply> reply; // set by the worker, or by the front when it refuses

    ~Request()
    {
        if (form)
            MHD_destroy_post_processor(form);
    }
};

struct HeadCount {
    int headers = 0;
    qint64 bytes = 0;
    int contentLengths = 0;
    bool chunked = false;
};

MHD_Result countHeader(void *cls, MHD_ValueKind, const char *key, const char *value)
{
    auto *count = static_cast<HeadCount *>(cls);
    ++count->headers;
    count->bytes += qint64(std::strlen(key)) + (value ? qint64(std::strlen(value)) : 0) + 4;
    if (strcasecmp(key, MHD_HTTP_HEADER_CONTENT_LENGTH) == 0)
        ++count->contentLengths;
    if (strcasecmp(key, MHD_HTTP_HEADER_TRANSFER_ENCODING) == 0)
        count->chunked = true;
    return MHD_YES;
}

MHD_Result formField(void *cls, MHD_ValueKind, const char *key, const char *, const char *, const char *,
                     const char *data, uint64_t, size_t size)
{
    auto *request = static_cast<Request *>(cls);
    const QByteArray chunk(data, qsizetype(size));
    if (std::strcmp(key, "file") == 0) {
        if (!request->api.formFile)
            request->api.formFile = QByteArray();
        request->api.formFile->append(chunk);
    } else {
        request->api.formFields[QString::fromUtf8(key)].append(chunk);
    }
    return MHD_YES;
}

QString clientAddress(MHD_Connection *connection)
{
    const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr)
        return QString();
    char host[NI_MAXHOST] = {};
    const socklen_t length =
        info->client_addr->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (getnameinfo(info->client_addr, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
        return QString();
    return QString::fromLatin1(host);
}

MHD_Result keepLastForwardedFor(void *last, MHD_ValueKind, const char *key, const char *value)
{
    if (key && value && strcasecmp(key, "X-Forwarded-For") == 0)
        *static_cast<QByteArray *>(last) = value;
    return MHD_YES;
}

// The client behind a trusted load balancer: the last address of the last X-Forwarded-For
// header, which that proxy added itself (HAProxy adds a header, nginx appends to the client's;
// anything before comes from the client and proves nothing). A request from anywhere else, or a
// value that is not one numeric address, keeps the peer's address.
QString forwardedClient(MHD_Connection *connection, const QString &peer, const QStringList &trustedProxies)
{
    if (!trustedProxies.contains(peer))
        return peer;
    QByteArray header;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, keepLastForwardedFor, &header);
    const QByteArray last = header.split(',').last().trimmed();
    unsigned char parsed[sizeof(in6_addr)];
    if (inet_pton(AF_INET, last.constData(), parsed) != 1
        && inet_pton(AF_INET6, last.constData(), parsed) != 1)
        return peer;
    return QString::fromLatin1(last);
}

ConnectionWatch::Entry *watchEntry(MHD_Connection *connection)
{
    const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<ConnectionWatch::Entry *>(info->socket_context) : nullptr;
}

} // namespace

struct HttpFront::Callbacks {
    static void *requestLine(void *cls, const char *uri, MHD_Connection *)
    {
        Q_UNUSED(cls);
        auto *request = new Request;
        request->target = QByteArray(uri);
        return request;
    }

    static void requestDone(void *cls, MHD_Connection *connection, void **context, MHD_RequestTerminationCode)
    {
        static_cast<HttpFront *>(cls)->m_watch->replied(watchEntry(connection));
        delete static_cast<Request *>(*context);
        *context = nullptr;
    }

    static void connectionEvent(void *cls, MHD_Connection *connection, void **socketContext,
                                MHD_ConnectionNotificationCode code)
    {
        auto *front = static_cast<HttpFront *>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            const MHD_ConnectionInfo *info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            *socketContext = info ? front->m_watch->opened(info->connect_fd) : nullptr;
        } else {
            front->m_watch->closed(static_cast<ConnectionWatch::Entry *>(*socketContext));
            *socketContext = nullptr;
        }
    }

    static void libraryLog(void *, const char *format, va_list arguments)
    {
        char line[512];
        std::vsnprintf(line, sizeof line, format, arguments);
        qCDebug(lcServer).noquote() << QString::fromUtf8(line).trimmed();
    }

    static MHD_Result answer(HttpFront &front, MHD_Connection *connection, Request &request)
    {
        const ApiReply &reply = *request.reply;
        // The library sends the reply's own bytes (a shared copy of the array, no deep copy) and
        // lets go of them when the reply is sent.
        auto *bytes = new QByteArray(reply.body);
        MHD_Response *response = MHD_create_response_from_buffer_with_free_callback_cls(
            size_t(bytes->size()), const_cast<char *>(bytes->constData()),
            [](void *held) { delete static_cast<QByteArray *>(held); }, bytes);
        if (!response) {
            delete bytes;
            return MHD_NO;
        }
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.contentType.constData());
        const MHD_Result queued = MHD_queue_response(connection, unsigned(reply.status), response);
        MHD_destroy_response(response);
        if (reply.status >= 400 && reply.status < 500)
            front.m_abuse->recordBad(request.api.remoteAddress);
        front.m_log->write(request.api.remoteAddress, request.api.method, request.path, request.query,
                           reply.status);
        return queued;
    }

    // The request's head is complete: checks it and prepares for its body.
    static std::optional<ApiReply> begin(HttpFront &front, MHD_Connection *connection, Request &request,
                                         const char *url, const char *method)
    {
        ConnectionWatch::Entry *entry = watchEntry(connection);
        front.m_watch->headReceived(entry);
        request.api.method = QString::fromLatin1(method);
        request.api.remoteAddress =
            forwardedClient(connection, clientAddress(connection), front.m_config.trustedProxies);
        const QString path = fromUtf8(url);
        request.path = path;
        request.api.endpoint = path.startsWith(QLatin1String("/api/")) ? path.mid(4) : path;

        HeadCount head;
        MHD_get_connection_values(connection, MHD_HEADER_KIND, countHeader, &head);
        if (head.headers > front.m_config.maxHeaderCount || head.bytes > front.m_config.maxHeaderBytes)
            return jsonError(431);
        // Two lengths, or a length beside chunks, would let two parsers read two requests.
        if (head.contentLengths > 1 || (head.contentLengths == 1 && head.chunked))
            return jsonError(400);
        if (!path.startsWith(QLatin1String("/api/")) || path.size() <= 5)
            return jsonError(404);
        static const QStringList methods{QStringLiteral("GET"), QStringLiteral("POST"), QStringLiteral("PUT"),
                                         QStringLiteral("DELETE")};
        if (!methods.contains(request.api.method))
            return jsonError(405);
        request.query = queryPairs(request.target);
        if (request.query.size() > kMaxQueryPairs)
            return jsonError(400);

        request.limit =
            request.api.endpoint == QLatin1String("/upload/") ? kMaxFormBody : SyncService::kMaxJsonBody;
        const char *length =
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
        const qint64 announced = length ? QByteArray(length).toLongLong() : 0;
        if (announced > request.limit + kDiscardBytes)
            return jsonError(413);
        request.discarding = announced > request.limit;
        const char *type =
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE);
        if (type && QByteArray(type).startsWith(MHD_HTTP_POST_ENCODING_MULTIPART_FORMDATA)) {
            request.form = MHD_create_post_processor(connection, 64 * 1024, formField, &request);
            if (!request.form)
                return jsonError(400);
        }

        for (const auto &[key, value] : request.query) {
            if (!request.api.query.contains(key))
                request.api.query.insert(key, value);
        }
        const QString host =
            fromUtf8(MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST));
        static const QRegularExpression validHost(QStringLiteral("^[A-Za-z0-9.:\\[\\]-]{1,255}$"));
        if (!front.m_config.publicUrl.isEmpty())
            request.api.baseUrl = front.m_config.publicUrl;
        else if (validHost.match(host).hasMatch())
            request.api.baseUrl =
                (front.m_config.tlsEnabled() ? QStringLiteral("https://") : QStringLiteral("http://")) + host
                + QStringLiteral("/api");
        else
            request.api.baseUrl = front.apiUrl(front.m_config.port);
        return std::nullopt;
    }

    static MHD_Result access(void *cls, MHD_Connection *connection, const char *url, const char *method,
                             const char *, const char *data, size_t *size, void **context)
    {
        auto &front = *static_cast<HttpFront *>(cls);
        auto *request = static_cast<Request *>(*context);
        if (!request)
            return MHD_NO;
        if (!request->started) {
            request->started = true;
            request->reply = begin(front, connection, *request, url, method);
            // A refusal goes out before any of the body is read.
            if (request->reply)
                return answer(front, connection, *request);
            return MHD_YES;
        }
        if (*size > 0) {
            request->received += qint64(*size);
            if (request->received > request->limit + kDiscardBytes) {
                // Far past the limit (chunked bodies announce no length): refused at once,
                // and the rest is never read.
                request->reply = jsonError(413);
                return answer(front, connection, *request) == MHD_YES ? MHD_YES : MHD_NO;
            }
            if (request->received > request->limit && !request->discarding) {
                request->discarding = true;
                request->api.body.clear();
                request->api.body.squeeze();
                request->api.formFile.reset();
                request->api.formFields.clear();
            }
            if (request->discarding) {
                *size = 0;
                return MHD_YES;
            }
            if (request->form) {
                if (MHD_post_process(request->form, data, *size) != MHD_YES)
                    request->formBroken = true;
            } else {
                request->api.body.append(data, qsizetype(*size));
            }
            *size = 0;
            return MHD_YES;
        }
        if (request->reply)
            return answer(front, connection, *request);
        if (request->dispatched)
            return MHD_YES;
        if (request->discarding || request->formBroken) {
            request->reply = jsonError(request->discarding ? 413 : 400);
            return answer(front, connection, *request);
        }
        // The whole request is here: a worker answers it while the connection waits, holding
        // no thread.
        request->dispatched = true;
        front.m_watch->working(watchEntry(connection));
        MHD_suspend_connection(connection);
        // An address that has sent too much bad input this second waits for the next one.
        const QString &address = request->api.remoteAddress;
        front.m_workers->post(
            address,
            [&front, connection, request] {
                request->reply = front.m_service.handle(request->api);
                MHD_resume_connection(connection);
            },
            front.m_abuse->answerAt(address));
        return MHD_YES;
    }
};

HttpFront::HttpFront(const ServerConfig &config, SyncService &service)
    : m_config(config)
    , m_service(service)
    , m_log(std::make_unique<RequestLog>(config.requestLogPerSecond))
    , m_abuse(std::make_unique<AbuseMeter>(config.badRequestsPerAddressPerSecond))
{
    if (config.tlsEnabled()) {
        QFile cert(config.tlsCert);
        QFile key(config.tlsKey);
        if (cert.open(QIODevice::ReadOnly) && key.open(QIODevice::ReadOnly)) {
            m_tlsCert = cert.readAll();
            m_tlsKey = key.readAll();
        }
    }
}

HttpFront::~HttpFront()
{
    stop();
    // Queued requests are answered first, so that no connection stays suspended.
    m_workers.reset();
    if (m_daemon)
        MHD_stop_daemon(m_daemon);
    m_watch.reset();
}

bool HttpFront::isValid() const
{
    return !m_config.tlsEnabled() || (m_tlsCert.contains("-----BEGIN") && m_tlsKey.contains("-----BEGIN"));
}

int HttpFront::bind()
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const QByteArray port = QByteArray::number(m_config.port);
    if (getaddrinfo(m_config.listenHost.toUtf8().constData(), port.constData(), &hints, &found) != 0
        || !found)
        return -1;
    sockaddr_storage address{};
    std::memcpy(&address, found->ai_addr, found->ai_addrlen);
    const bool ipv6 = found->ai_family == AF_INET6;
    freeaddrinfo(found);

    m_watch = std::make_unique<ConnectionWatch>(m_config.requestHeadSeconds, kBodySeconds);
    m_workers = std::make_unique<WorkerPool>(kWorkerThreads);
    unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
    if (ipv6)
        flags |= MHD_USE_IPv6;
    if (m_config.tlsEnabled())
        flags |= MHD_USE_TLS;
    // Room for the request head and the body's read buffer; a head larger than this is refused
    // by the library itself (431).
    const size_t memory = size_t(qMax(32 * 1024, m_config.maxHeaderBytes * 2 + 16 * 1024));
    MHD_OptionItem tls[] = {
        {MHD_OPTION_HTTPS_MEM_CERT, 0, m_tlsCert.data()},
        {MHD_OPTION_HTTPS_MEM_KEY, 0, m_tlsKey.data()},
        {MHD_OPTION_END, 0, nullptr},
    };
    // The library's default SO_REUSEADDR lets a restarted service bind at once; SO_REUSEPORT is
    // left off, so that a second service started on a port in use fails instead of silently
    // taking half of its connections.
    m_daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &Callbacks::access, this, MHD_OPTION_SOCK_ADDR, &address,
        MHD_OPTION_CONNECTION_LIMIT, unsigned(m_config.maxConnections), MHD_OPTION_PER_IP_CONNECTION_LIMIT,
        unsigned(m_config.maxConnectionsPerAddress), MHD_OPTION_CONNECTION_TIMEOUT,
        unsigned(qMax(1, m_config.idleSeconds)), MHD_OPTION_CONNECTION_MEMORY_LIMIT, memory,
        MHD_OPTION_URI_LOG_CALLBACK, &Callbacks::requestLine, this, MHD_OPTION_NOTIFY_COMPLETED,
        &Callbacks::requestDone, this, MHD_OPTION_NOTIFY_CONNECTION, &Callbacks::connectionEvent, this,
        MHD_OPTION_STRICT_FOR_CLIENT, 1, MHD_OPTION_SIGPIPE_HANDLED_BY_APP, 1U, MHD_OPTION_EXTERNAL_LOGGER,
        &Callbacks::libraryLog, this, MHD_OPTION_ARRAY, m_config.tlsEnabled() ? tls : tls + 2,
        MHD_OPTION_END);
    if (!m_daemon)
        return -1;
    const MHD_DaemonInfo *info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    return info ? int(info->port) : -1;
}

bool HttpFront::serve()
{
    if (!m_daemon)
        return false;
    std::unique_lock lock(m_mutex);
    m_stopped.wait(lock, [this] { return m_stopping; });
    return true;
}

void HttpFront::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stopped.notify_all();
}

QString HttpFront::apiUrl(int boundPort) const
{
    if (!m_config.publicUrl.isEmpty())
        return m_config.publicUrl;
    QString host = m_config.listenHost;
    if (host == QLatin1String("0.0.0.0") || host == QLatin1String("::"))
        host = QStringLiteral("127.0.0.1");
    return (m_config.tlsEnabled() ? QStringLiteral("https://") : QStringLiteral("http://")) + host
           + QLatin1Char(':') + QString::number(boundPort) + QStringLiteral("/api");
}
