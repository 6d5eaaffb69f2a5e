#pragma once

#include "ApiTypes.h"
#include "LoginThrottle.h"
#include "Mailer.h"
#include "PluginStore.h"
#include "Secrets.h"
#include "ServerConfig.h"
#include "Storage.h"
#include "UploadPolicy.h"

#include <QJsonObject>

#include <functional>
#include <optional>
#include <semaphore>

class BrokerSetup;
class Notifier;
class ObjectStore;
class SyncStorage;

// The sync protocol: every endpoint of the service, answering ApiRequests. Each request that
// carries a sign-in token acts only on that token's user.
class SyncService final
{
public:
    using Clock = std::function<qint64()>;

    SyncService(const ServerConfig &config, SyncStorage &storage, ObjectStore &objects, Notifier &notifier,
                const BrokerSetup *broker, Clock clock = {});

    ApiReply handle(const ApiRequest &request);

    // Largest JSON body accepted; the upload form may be larger.
    static constexpr qint64 kMaxJsonBody = 1024 * 1024;

private:
    struct Caller {
        qint64 userId = 0;
        QString device;
    };

    ApiReply init(const ApiRequest &request);
    ApiReply login(const ApiRequest &request);
    ApiReply registerUser(const ApiRequest &request);
    ApiReply forgetPassword(const ApiRequest &request);
    ApiReply push(const ApiRequest &request, const Caller &caller);
    ApiReply pull(const ApiRequest &request, const Caller &caller);
    ApiReply getFavourite(const ApiRequest &request, const Caller &caller);
    ApiReply setFavourite(const ApiRequest &request, const Caller &caller);
    ApiReply uploadToken(const ApiRequest &request, const Caller &caller);
    ApiReply downloadFile(const ApiRequest &request, const Caller &caller);
    ApiReply clearHistory(const Caller &caller);
    ApiReply upload(const ApiRequest &request);
    ApiReply checkVersion() const;
    ApiReply plugins(const ApiRequest &request) const;
    ApiReply pluginFile(const ApiRequest &request) const;

    std::optional<Caller> authenticate(const ApiRequest &request);
    QJsonObject signedIn(qint64 userId, const QString &device);
    std::optional<QJsonObject> jsonBody(const ApiRequest &request, ApiReply *refusal) const;
    // The record a body names under "history"; none, with the refusal set, when the body or the
    // record is not acceptable.
    std::optional<IncomingRecord> historyBody(const ApiRequest &request, ApiReply *refusal) const;
    qint64 now() const;

    const ServerConfig &m_config;
    SyncStorage &m_storage;
    ObjectStore &m_objects;
    Notifier &m_notifier;
    const BrokerSetup *m_broker;
    Clock m_clock;
    Secrets::HashCost m_hashCost;
    UploadPolicy m_policy;
    LoginThrottle m_throttle;
    Mailer m_mailer;
    PluginStore m_plugins;
    // Password hashing takes tens of megabytes each; at most two run at once.
    std::counting_semaphore<2> m_hashSlots{2};
};
