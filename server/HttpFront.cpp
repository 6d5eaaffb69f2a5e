#include "HttpFront.h"

#include "ServerLog.h"
#include "SyncService.h"

#include "support/PayloadLimit.h"

#include <QRegularExpression>

#include <httplib.h>

namespace {

constexpr int kWorkerThreads = 64;
constexpr int kMaxQueryPairs = 32;

QString fromStd(const std::string &text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

std::string toStd(const QByteArray &bytes)
{
    return std::string(bytes.constData(), size_t(bytes.size()));
}

// The pairs of the request line's query, decoded the way HTML forms encode them ("+" is a
// space). Only the query counts: httplib would also merge a form-encoded body into its params.
QList<std::pair<QString, QString>> queryPairs(const std::string &target)
{
    QList<std::pair<QString, QString>> pairs;
    const size_t mark = target.find('?');
    if (mark == std::string::npos)
        return pairs;
    const QByteArray query = QByteArray::fromStdString(target.substr(mark + 1));
    for (const QByteArray &pair : query.split('&')) {
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

void setJsonError(httplib::Response &res, int status)
{
    res.status = status;
    res.set_content("{\"code\":" + std::to_string(status) + "}", "application/json");
}

} // namespace

HttpFront::HttpFront(const ServerConfig &config, SyncService &service)
    : m_config(config)
    , m_service(service)
{
    if (config.tlsEnabled()) {
        m_server = std::make_unique<httplib::SSLServer>(config.tlsCert.toLocal8Bit().constData(),
                                                        config.tlsKey.toLocal8Bit().constData());
    } else {
        m_server = std::make_unique<httplib::Server>();
    }
    httplib::Server &server = *m_server;
    // Keep-alive connections hold a worker each; enough workers for many devices at once.
    server.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    // The upload form: the largest payload plus room for its text fields. httplib answers 413
    // itself for anything larger, before reading it.
    server.set_payload_max_length(size_t(kMaxPayloadBytes + 256 * 1024));
    server.set_read_timeout(10);
    server.set_keep_alive_timeout(5);
    server.set_tcp_nodelay(true);
    server.set_keep_alive_max_count(1000);

    const auto handler = [this](const httplib::Request &req, httplib::Response &res) {
        const auto pairs = queryPairs(req.target);
        if (pairs.size() > kMaxQueryPairs) {
            setJsonError(res, 400);
            return;
        }
        ApiRequest request;
        request.method = fromStd(req.method);
        request.endpoint = QLatin1Char('/') + fromStd(req.matches[1].str());
        for (const auto &[key, value] : pairs) {
            if (!request.query.contains(key))
                request.query.insert(key, value);
        }
        request.remoteAddress = fromStd(req.remote_addr);
        const QString host = fromStd(req.get_header_value("Host"));
        static const QRegularExpression validHost(QStringLiteral("^[A-Za-z0-9.:\\[\\]-]{1,255}$"));
        if (!m_config.publicUrl.isEmpty())
            request.baseUrl = m_config.publicUrl;
        else if (validHost.match(host).hasMatch())
            request.baseUrl = (m_config.tlsEnabled() ? QStringLiteral("https://") : QStringLiteral("http://"))
                              + host + QStringLiteral("/api");
        else
            request.baseUrl = apiUrl(m_config.port);
        if (req.is_multipart_form_data()) {
            for (const auto &[name, part] : req.files) {
                if (name == "file")
                    request.formFile = QByteArray(part.content.data(), qsizetype(part.content.size()));
                else
                    request.formFields.insert(
                        fromStd(name), QByteArray(part.content.data(), qsizetype(part.content.size())));
            }
        } else {
            request.body = QByteArray(req.body.data(), qsizetype(req.body.size()));
        }
        const ApiReply reply = m_service.handle(request);
        res.status = reply.status;
        res.set_content(toStd(reply.body), reply.contentType.constData());
    };
    const std::string pattern = "/api/(.+)";
    server.Get(pattern, handler);
    server.Post(pattern, handler);
    server.Put(pattern, handler);
    server.Delete(pattern, handler);

    server.set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (res.body.empty())
            setJsonError(res, res.status);
    });
    server.set_exception_handler(
        [](const httplib::Request &, httplib::Response &res, std::exception_ptr) { setJsonError(res, 500); });
    server.set_logger([](const httplib::Request &req, const httplib::Response &res) {
        // The path and the names of the query keys; secret values never reach the log.
        qCInfo(lcServer).noquote() << fromStd(req.remote_addr) << fromStd(req.method) << fromStd(req.path)
                                   << scrubbedQuery(queryPairs(req.target)) << res.status;
    });
}

HttpFront::~HttpFront() = default;

bool HttpFront::isValid() const
{
    return m_server->is_valid();
}

QString HttpFront::scrubbedQuery(const QList<std::pair<QString, QString>> &pairs)
{
    // Only known, harmless keys keep their values (cut short); every other value is hidden.
    static const QStringList shown{QStringLiteral("device_type"), QStringLiteral("device_token"),
                                   QStringLiteral("version"),     QStringLiteral("history_id"),
                                   QStringLiteral("file_id"),     QStringLiteral("last_request_timestamp"),
                                   QStringLiteral("count")};
    QStringList out;
    for (const auto &[key, value] : pairs)
        out << key.left(40)
                   + (shown.contains(key) ? QLatin1Char('=') + value.left(64) : QStringLiteral("=***"));
    return out.join(QLatin1Char('&'));
}

int HttpFront::bind()
{
    const std::string host = m_config.listenHost.toStdString();
    if (m_config.port == 0)
        return m_server->bind_to_any_port(host);
    return m_server->bind_to_port(host, m_config.port) ? m_config.port : -1;
}

bool HttpFront::serve()
{
    return m_server->listen_after_bind();
}

void HttpFront::stop()
{
    m_server->stop();
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
