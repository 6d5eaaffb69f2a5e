#include "sync/RequestManager.h"

#include "store/ConfigureManager.h"
#include "support/Log.h"
#include "support/MainQueue.h"
#include "sync/RequestTransport.h"
#include "sync/SyncEngine.h"
#include "sync/SyncIdentity.h"
#include "sync/SyncServer.h"
#include "sync/TransportCall.h"

#include <QJsonDocument>
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

qint64 RequestManager::maxReplyBytes() const
{
    return kDefaultMaxReplyBytes;
}

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
    const QString url = requestURL();
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
    sendOnTransport(
        sync.transport(), url, method, body,
        [self, completion, guard, hasContext](const TransportReply &reply) {
            if (reply.error) {
                complete(completion, guard, hasContext, std::nullopt, reply.statusCode, reply.error);
                return;
            }
            if (reply.body.isEmpty()) {
                complete(completion, guard, hasContext, std::nullopt, reply.statusCode,
                         RequestError{QLatin1String(kClientErrorDomain), 0, QString()});
                return;
            }
            complete(completion, guard, hasContext, self->parse(reply.body), reply.statusCode, std::nullopt);
        },
        maxReplyBytes());
}
