#pragma once

#include "ApiTypes.h"
#include "LoginThrottle.h"
#include "Mailer.h"
#include "PluginStore.h"
#include "RateLimiter.h"
#include "Secrets.h"
#include "ServerConfig.h"
#include "SharedLimits.h"
#include "Storage.h"
#include "UploadPolicy.h"

#include <QJsonObject>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <semaphore>

class BrokerAccounts;
class Notifier;
class ObjectStore;
class SyncStorage;

// The sync protocol: every endpoint of the service, answering ApiRequests. Each request that
// carries a sign-in token acts only on that token's user.
class SyncService final
{
public:
    using Clock = std::function<qint64()>;

    // `limits` holds the sign-in throttle and rate limits, shared by every process of the service.
    SyncService(const ServerConfig &config, SyncStorage &storage, ObjectStore &objects, Notifier &notifier,
                BrokerAccounts *accounts, SharedLimits &limits, Clock clock = {});

    ApiReply handle(const ApiRequest &request);

    // Largest JSON body accepted; the upload form may be larger.
    static constexpr qint64 kMaxJsonBody = 1024 * 1024;

private:
    struct Caller {
        qint64 userId = 0;
        QString device;
        // The user's change sequence when this sign-in was made.
        qint64 sinceSeq = 0;
    };

    ApiReply init(const ApiRequest &request);
    ApiReply login(const ApiRequest &request);
    ApiReply registerUser(const ApiRequest &request);
    ApiReply forgetPassword(const ApiRequest &request);
    // `record`: the body's record of a POST or PUT, checked before the caller's token.
    ApiReply push(const ApiRequest &request, const Caller &caller,
                  const std::optional<IncomingRecord> &record);
    ApiReply pull(const ApiRequest &request, const Caller &caller);
    ApiReply getFavourite(const QJsonObject &body, const Caller &caller);
    ApiReply setFavourite(const IncomingRecord &record, const Caller &caller);
    ApiReply uploadToken(const ApiRequest &request, const Caller &caller);
    ApiReply downloadFile(const ApiRequest &request, const Caller &caller);
    ApiReply clearHistory(const Caller &caller);
    ApiReply logout(const ApiRequest &request, const Caller &caller);
    // Tells the user's other devices the favourite decision this record now holds.
    void announceFavourite(const Caller &caller, const StoredRecord &record);
    ApiReply upload(const ApiRequest &request);
    ApiReply checkVersion() const;
    ApiReply plugins(const ApiRequest &request) const;
    ApiReply pluginFile(const ApiRequest &request) const;

    StoreResult<Caller> authenticate(const ApiRequest &request);
    // A new token for the device and its broker account; none (with the refusal set) when
    // either cannot be made.
    std::optional<QJsonObject> signedIn(qint64 userId, const QString &device, ApiReply *refusal);
    // Deletes expired sign-ins (with their broker accounts) and upload grants, at most once an
    // hour.
    void sweep();
    std::optional<QJsonObject> jsonBody(const ApiRequest &request, ApiReply *refusal) const;
    // The record a body names under "history"; none, with the refusal set, when the body or the
    // record is not acceptable.
    std::optional<IncomingRecord> historyBody(const QJsonObject &body, ApiReply *refusal) const;
    qint64 now() const;

    const ServerConfig &m_config;
    SyncStorage &m_storage;
    ObjectStore &m_objects;
    Notifier &m_notifier;
    BrokerAccounts *m_accounts;
    Clock m_clock;
    Secrets::HashCost m_hashCost;
    UploadPolicy m_policy;
    std::unique_ptr<LoginThrottle> m_throttle;
    std::unique_ptr<RateLimiter> m_registrations;
    std::unique_ptr<RateLimiter> m_resetsByAddress;
    std::unique_ptr<RateLimiter> m_resetsByAccount;
    AccountQuota m_quota;
    std::atomic<qint64> m_nextSweep{0};
    Mailer m_mailer;
    PluginStore m_plugins;
    // Password hashing takes tens of megabytes each; at most two run at once.
    std::counting_semaphore<2> m_hashSlots{2};
};
