#include "sync/RequestManager.h"

#include "store/ConfigureManager.h"
#include "support/Log.h"
#include "support/MainQueue.h"
#include "sync/RequestTransport.h"
#include "sync/SyncEngine.h"
#include "sync/SyncIdentity.h"
#include "sync/SyncServer.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>

namespace {

// Hands the outcome to the main thread; a completion whose context has gone is dropped.
void complete(const RequestCompletion &completion, const QPointer<QObject> &context, bool hasContext,
              RequestResult result, int statusCode, std::optional<RequestError> error)
{
    if (!completion)
        return;
    auto call = [completion, result = std::move(result), statusCode, error = std::move(error)] {
        completion(result, statusCode, error);
    };
    if (hasContext) {
        if (context)
            dispatchMain(context.data(), std::move(call));
        return;
    }
    dispatchMain(std::move(call));
}

// Qt's error texts quote the whole URL, whose query carries tokens and password hashes.
QString scrubbedError(const QNetworkReply &reply)
{
    QString text = reply.errorString();
    const QUrl &url = reply.url();
    for (const QString &form : {url.toString(), url.toDisplayString(), QString::fromUtf8(url.toEncoded())})
        text.replace(form, url.path());
    return text;
}

} // namespace

RequestManager::RequestManager()
    : m_device_token(currentDeviceToken())
    , m_version(appVersionString())
    , m_device_type(deviceTypeString())
{ }

RequestManager::~RequestManager() = default;

QString RequestManager::user_token() const
{
    return m_sync ? m_sync->account().loginUserToken() : QString();
}

QString RequestManager::baseURL()
{
    return SyncServer::baseURL();
}

QString RequestManager::methodURL() const
{
    return {};
}

QString RequestManager::requestURL() const
{
    return methodURL() + QStringLiteral("?device_type=") + device_type() + QStringLiteral("&device_token=")
           + device_token() + QStringLiteral("&version=") + version();
}

QString RequestManager::tokenPair() const
{
    return QStringLiteral("&user_token=") + user_token();
}

bool RequestManager::isContinueRequest() const
{
    return m_sync && m_sync->account().isSignedIn();
}

void RequestManager::genPostData() { }

RequestResult RequestManager::parse(const QByteArray &)
{
    return std::nullopt;
}

std::optional<QJsonObject> RequestManager::jsonObject(const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}

qint64 RequestManager::replyCode(const QJsonObject &reply)
{
    return reply.value(QStringLiteral("code")).toInteger(0);
}

void RequestManager::request(SyncEngine &sync, RequestCompletion completion, QObject *context)
{
    m_sync = &sync;
    const QPointer<QObject> guard(context);
    const bool hasContext = context != nullptr;
    if (!isContinueRequest()) {
        complete(completion, guard, hasContext, std::nullopt, kNoResponse, std::nullopt);
        return;
    }
    genPostData();
    // The URL is sent as assembled: its values are escaped where they need it already.
    const QUrl url = QUrl::fromEncoded(requestURL().toUtf8(), QUrl::TolerantMode);
    const QByteArray method = httpMethod().toLatin1();
    const std::optional<QByteArray> body = httpBodyData();
    // The reply is read after the caller may have let go of this object.
    std::shared_ptr<RequestManager> self = weak_from_this().lock();
    if (!self) {
        qCWarning(lcSync) << "a request object not owned through std::shared_ptr was not sent";
        complete(completion, guard, hasContext, std::nullopt, kNoResponse,
                 RequestError{QLatin1String(kClientErrorDomain), 0, QStringLiteral("request not owned")});
        return;
    }

    RequestTransport &transport = sync.transport();
    transport.onTransportThread([&transport, self, url, method, body, completion, guard, hasContext] {
        QNetworkAccessManager &network = transport.network();
        const QNetworkRequest request = transport.makeRequest(url);
        QNetworkReply *reply = body ? network.sendCustomRequest(request, method, *body)
                                    : network.sendCustomRequest(request, method);
        QObject::connect(
            reply, &QNetworkReply::finished, reply, [self, reply, completion, guard, hasContext] {
                reply->deleteLater();
                const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
                const int statusCode = status.isValid() ? status.toInt() : kNoResponse;
                if (reply->error() != QNetworkReply::NoError) {
                    // The URL carries the token, so only the endpoint's path reaches the log.
                    qCInfo(lcSync) << "request failed:" << reply->url().path() << statusCode
                                   << reply->error();
                    complete(completion, guard, hasContext, std::nullopt, statusCode,
                             RequestError{QStringLiteral("QNetworkReply"), int(reply->error()),
                                          scrubbedError(*reply)});
                    return;
                }
                const QByteArray bytes = reply->readAll();
                if (bytes.isEmpty()) {
                    complete(completion, guard, hasContext, std::nullopt, statusCode,
                             RequestError{QLatin1String(kClientErrorDomain), 0, QString()});
                    return;
                }
                RequestResult result = self->parse(bytes);
                complete(completion, guard, hasContext, std::move(result), statusCode, std::nullopt);
            });
    });
}
