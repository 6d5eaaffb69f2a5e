#include "SyncService.h"

#include "BrokerAccounts.h"
#include "Notifier.h"
#include "ObjectStore.h"
#include "RecordJson.h"
#include "ServerLog.h"
#include "Storage.h"

#include "BuildInfo.h"
#include "support/PayloadLimit.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <chrono>
#include <thread>

namespace {

ApiReply json(const QJsonObject &object, int status = 200)
{
    return {status, QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

// A refusal: "code" carries the HTTP status, so it is never 0.
ApiReply refuse(int status, const QString &message)
{
    return json({{QStringLiteral("code"), status}, {QStringLiteral("msg"), message}}, status);
}

ApiReply ok(QJsonObject object = {})
{
    object.insert(QStringLiteral("code"), 0);
    return json(object);
}

ApiReply protocolCode(int code)
{
    return json({{QStringLiteral("code"), code}});
}

ApiReply unauthorised()
{
    return json({{QStringLiteral("code"), 401}, {QStringLiteral("token_expire"), 1}}, 401);
}

// A failure of the storage: 507 when the disk is full, 500 otherwise; never a success or a
// protocol answer that means something else.
ApiReply storageFailure(StoreStatus status)
{
    if (status == StoreStatus::NoSpace)
        return refuse(507, QStringLiteral("the service's disk is full"));
    return refuse(500, QStringLiteral("the service cannot store this now"));
}

ApiReply tooMany(qint64 retryAfter)
{
    return json({{QStringLiteral("code"), 429}, {QStringLiteral("retry_after"), qMax<qint64>(1, retryAfter)}},
                429);
}

bool matches(const QString &pattern, const QString &text)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(text).hasMatch();
}

bool isDeviceToken(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z0-9_.-]{1,128}$"));
    return re.match(text).hasMatch();
}

// The address form accounts were made with so far; sign-in and reset still accept it, so that
// no existing account is shut out.
bool isEmail(const QString &text)
{
    static const QRegularExpression re(
        QStringLiteral("^[A-Za-z0-9._%+-]{1,64}@[A-Za-z0-9.-]{1,180}\\.[A-Za-z]{2,24}$"));
    return text.size() <= 254 && re.match(text).hasMatch();
}

// What a new account's address must be: one "@", a local part without empty dot-separated
// parts, and a domain of at least two labels, none empty or starting or ending with "-".
bool isNewAccountEmail(const QString &text)
{
    static const QRegularExpression re(QStringLiteral(
        "^[A-Za-z0-9_%+-]+(\\.[A-Za-z0-9_%+-]+)*@([A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?\\.)+[A-Za-z]{2,24}$"));
    return isEmail(text) && text.indexOf(QLatin1Char('@')) <= 64 && re.match(text).hasMatch();
}

bool isZipped(const QString &type)
{
    const QStringList extras = type.split(QLatin1Char('+')).mid(1);
    return extras.contains(QLatin1String("zip"));
}

bool isPasswordDigest(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^[0-9a-fA-F]{32}$"));
    return re.match(text).hasMatch();
}

// A decimal id in a query; none when absent or not a positive id.
std::optional<qint64> queryId(const ApiRequest &request, const QString &key)
{
    const QString text = request.query.value(key);
    if (text.isEmpty() || text.size() > 10 || !matches(QStringLiteral("[0-9]+"), text))
        return std::nullopt;
    const qint64 value = text.toLongLong();
    if (value <= 0 || value > RecordJson::kMaxId)
        return std::nullopt;
    return value;
}

} // namespace

SyncService::SyncService(const ServerConfig &config, SyncStorage &storage, ObjectStore &objects,
                         Notifier &notifier, BrokerAccounts *accounts, SharedLimits &limits, Clock clock)
    : m_config(config)
    , m_storage(storage)
    , m_objects(objects)
    , m_notifier(notifier)
    , m_accounts(accounts)
    , m_clock(clock ? std::move(clock) : Clock([] { return QDateTime::currentSecsSinceEpoch(); }))
    , m_hashCost{config.argon2Ops, config.argon2MemKib * 1024}
    , m_policy(config.signingKey, config.uploadPolicySeconds)
    , m_throttle(limits.loginThrottle(
          {config.loginFailuresBeforeDelay, config.accountFailuresBeforeDelay, config.loginSlowSeconds, 4}))
    , m_registrations(limits.rateLimiter("registrations", config.registrationsPerAddressPerHour, 3600))
    , m_resetsByAddress(limits.rateLimiter("resets_by_address", config.resetsPerAddressPerHour, 3600))
    , m_resetsByAccount(limits.rateLimiter("resets_by_account", config.resetsPerAccountPerHour, 3600))
    , m_quota{config.accountMaxRecords, config.accountMaxBytes}
    , m_mailer(config.outboxDir(), config.sendmail)
    , m_plugins(config.pluginsDir())
{ }

qint64 SyncService::now() const
{
    return m_clock();
}

void SyncService::sweep()
{
    constexpr qint64 kSweepEverySeconds = 3600;
    const qint64 time = now();
    qint64 due = m_nextSweep.load();
    if (time < due || !m_nextSweep.compare_exchange_strong(due, time + kSweepEverySeconds))
        return;
    // An expired sign-in's broker account goes first: while the broker cannot be reached, the
    // expired tokens (refused anyway) stay until a later sweep finds their accounts.
    if (m_accounts) {
        const auto expired = m_storage.expiredSignIns(time);
        if (!expired || !m_accounts->removeDevices(*expired)) {
            qCWarning(lcServer)
                << "cannot remove the broker accounts of expired sign-ins; trying again later";
            return;
        }
    }
    if (const int removed = m_storage.removeExpiredTokens(time))
        qCInfo(lcServer) << "removed" << removed << "expired sign-ins and upload grants";
}

ApiReply SyncService::handle(const ApiRequest &request)
{
    sweep();
    const QString &e = request.endpoint;
    const bool get = request.method == QLatin1String("GET");
    const bool post = request.method == QLatin1String("POST");

    // Endpoints that need no sign-in.
    if (e == QLatin1String("/init/") && get)
        return init(request);
    if (e == QLatin1String("/login/") && get)
        return login(request);
    if (e == QLatin1String("/register/") && get)
        return registerUser(request);
    if (e == QLatin1String("/forget_pwd/") && get)
        return forgetPassword(request);
    if (e == QLatin1String("/check_version/") && get)
        return checkVersion();
    if (e == QLatin1String("/plugins/") && get)
        return plugins(request);
    if (e.startsWith(QLatin1String("/plugin_files/")) && get)
        return pluginFile(request);
    if (e == QLatin1String("/upload/") && post)
        return upload(request);

    static const QStringList signedInEndpoints{QStringLiteral("/push/"),
                                               QStringLiteral("/pull/"),
                                               QStringLiteral("/get_favourite/"),
                                               QStringLiteral("/set_favourite/"),
                                               QStringLiteral("/get_upload_token/"),
                                               QStringLiteral("/download_file/"),
                                               QStringLiteral("/clear_history/"),
                                               QStringLiteral("/logout/")};
    if (!signedInEndpoints.contains(e))
        return refuse(404, QStringLiteral("no such endpoint"));
    // Bodies are checked before the token is looked up: malformed input costs no storage work.
    const bool put = request.method == QLatin1String("PUT");
    std::optional<QJsonObject> body;
    std::optional<IncomingRecord> record;
    if (((e == QLatin1String("/push/") && (post || put)) || e == QLatin1String("/set_favourite/")
         || e == QLatin1String("/get_favourite/"))
        && (post || put)) {
        ApiReply refusal;
        body = jsonBody(request, &refusal);
        if (!body)
            return refusal;
        if (e != QLatin1String("/get_favourite/")) {
            record = historyBody(*body, &refusal);
            if (!record)
                return refusal;
        }
    }
    const auto caller = authenticate(request);
    if (caller.failed())
        return storageFailure(caller.status());
    if (!caller)
        return unauthorised();
    if (!isDeviceToken(caller->device))
        return refuse(400, QStringLiteral("device_token is missing or malformed"));

    if (e == QLatin1String("/push/"))
        return push(request, *caller, record);
    if (e == QLatin1String("/pull/") && get)
        return pull(request, *caller);
    if (e == QLatin1String("/get_favourite/") && post)
        return getFavourite(*body, *caller);
    if (e == QLatin1String("/set_favourite/") && post)
        return setFavourite(*record, *caller);
    if (e == QLatin1String("/get_upload_token/") && get)
        return uploadToken(request, *caller);
    if (e == QLatin1String("/download_file/") && get)
        return downloadFile(request, *caller);
    if (e == QLatin1String("/clear_history/") && get)
        return clearHistory(*caller);
    if (e == QLatin1String("/logout/") && get)
        return logout(request, *caller);
    return refuse(405, QStringLiteral("method not allowed"));
}

StoreResult<SyncService::Caller> SyncService::authenticate(const ApiRequest &request)
{
    const QString token = request.query.value(QStringLiteral("user_token"));
    if (!matches(QStringLiteral("[0-9a-f]{64}"), token))
        return StoreStatus::Missing;
    const auto signIn =
        m_storage.userForToken(Secrets::tokenDigest(token), now(), now() + m_config.tokenLifetimeSeconds);
    if (!signIn)
        return signIn.status();
    return Caller{signIn->userId, request.query.value(QStringLiteral("device_token")), signIn->sinceSeq};
}

std::optional<QJsonObject> SyncService::jsonBody(const ApiRequest &request, ApiReply *refusal) const
{
    if (request.body.size() > kMaxJsonBody) {
        *refusal = refuse(413, QStringLiteral("body too large"));
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(request.body, &error);
    if (!document.isObject()) {
        *refusal = refuse(400, QStringLiteral("body must be a JSON object"));
        return std::nullopt;
    }
    return document.object();
}

std::optional<IncomingRecord> SyncService::historyBody(const QJsonObject &body, ApiReply *refusal) const
{
    QString error;
    auto record = RecordJson::parse(body.value(QStringLiteral("history")), &error);
    if (!record)
        *refusal = refuse(400, error);
    return record;
}

std::optional<QJsonObject> SyncService::signedIn(qint64 userId, const QString &device, ApiReply *refusal)
{
    const QString token = Secrets::randomHex(32);
    const auto added = m_storage.addToken(Secrets::tokenDigest(token), userId, device,
                                          now() + m_config.tokenLifetimeSeconds);
    if (!added) {
        *refusal = storageFailure(added.status());
        return std::nullopt;
    }
    QJsonObject reply{{QStringLiteral("token"), token}, {QStringLiteral("user_id"), userId}};
    if (!m_accounts)
        return reply;
    // A sign-in without its broker account would never hear of changes: it is undone, and the
    // device is told to try again.
    const auto password = m_accounts->addDevice(userId, device);
    if (!password) {
        m_storage.removeToken(Secrets::tokenDigest(token));
        *refusal =
            refuse(503, QStringLiteral("the service's notice broker cannot be reached; try again shortly"));
        return std::nullopt;
    }
    reply.insert(QStringLiteral("mqtt_username"), BrokerAccounts::userNameFor(userId, device));
    reply.insert(QStringLiteral("mqtt_password"), *password);
    return reply;
}

ApiReply SyncService::init(const ApiRequest &request)
{
    if (request.query.value(QStringLiteral("device_name")).size() > RecordJson::kMaxDeviceNameChars)
        return refuse(400, QStringLiteral("device_name too long"));
    const QString token = request.query.value(QStringLiteral("user_token"));
    // The client reads "token_expire" only from a successful HTTP reply, so this refusal is 200.
    if (!token.isEmpty()) {
        const auto caller = authenticate(request);
        if (caller.failed())
            return storageFailure(caller.status());
        if (!caller)
            return json({{QStringLiteral("code"), 1}, {QStringLiteral("token_expire"), 1}});
    }
    return ok({{QStringLiteral("data"), QJsonObject{{QStringLiteral("homepage"), m_config.homepage},
                                                    {QStringLiteral("developer"), m_config.developerPage}}}});
}

ApiReply SyncService::login(const ApiRequest &request)
{
    const QString email = request.query.value(QStringLiteral("username")).toLower();
    const QString digest = request.query.value(QStringLiteral("pwd_hash")).toLower();
    const QString device = request.query.value(QStringLiteral("device_token"));
    if (!isEmail(email) || !isPasswordDigest(digest) || !isDeviceToken(device))
        return refuse(400, QStringLiteral("username, pwd_hash or device_token malformed"));
    const LoginThrottle::Verdict verdict = m_throttle->begin(request.remoteAddress, email, now());
    if (verdict.decision == LoginThrottle::Decision::Refuse)
        return tooMany(verdict.seconds);
    // A limit is in force (perhaps caused by others): this attempt goes through, slowly.
    if (verdict.decision == LoginThrottle::Decision::Slow)
        std::this_thread::sleep_for(std::chrono::seconds(verdict.seconds));

    const auto user = m_storage.findUser(email);
    if (user.failed()) {
        m_throttle->finish(request.remoteAddress, email, verdict, false);
        return storageFailure(user.status());
    }
    bool valid = false;
    {
        m_hashSlots.acquire();
        // An unknown address costs the same time as a wrong password.
        static const QString unknownUserHash = Secrets::hashPassword("unknown", m_hashCost);
        valid =
            Secrets::verifyPassword(digest.toLatin1(), user ? user->passwordHash : unknownUserHash) && user;
        m_hashSlots.release();
    }
    m_throttle->finish(request.remoteAddress, email, verdict, valid);
    if (!valid)
        return refuse(401, QStringLiteral("wrong user name or password"));
    ApiReply refusal;
    const auto reply = signedIn(user->id, device, &refusal);
    return reply ? ok(*reply) : refusal;
}

ApiReply SyncService::registerUser(const ApiRequest &request)
{
    const QString email = request.query.value(QStringLiteral("username")).toLower();
    const QString digest = request.query.value(QStringLiteral("pwd_hash")).toLower();
    const QString device = request.query.value(QStringLiteral("device_token"));
    if (!m_config.registrationOpen)
        return refuse(403, QStringLiteral("this service does not take new accounts"));
    if (!isNewAccountEmail(email) || !isPasswordDigest(digest) || !isDeviceToken(device))
        return refuse(400, QStringLiteral("username, pwd_hash or device_token malformed"));
    if (!m_registrations->allow(request.remoteAddress, now()))
        return tooMany(m_registrations->retryAfter(request.remoteAddress, now()));
    const auto existing = m_storage.findUser(email);
    if (existing.failed())
        return storageFailure(existing.status());
    if (existing)
        return protocolCode(1001);
    m_hashSlots.acquire();
    const QString hash = Secrets::hashPassword(digest.toLatin1(), m_hashCost);
    m_hashSlots.release();
    if (hash.isEmpty())
        return refuse(500, QStringLiteral("cannot hash the password"));
    const auto userId = m_storage.createUser(email, hash);
    if (userId.status() == StoreStatus::Taken)
        return protocolCode(1001);
    if (!userId)
        return storageFailure(userId.status());
    ApiReply refusal;
    const auto reply = signedIn(*userId, device, &refusal);
    // An account nobody could sign in to is undone: the address stays free for another try.
    if (!reply) {
        qCWarning(lcServer) << "the first sign-in of a new account failed; the registration is undone";
        m_storage.removeUser(*userId);
        return refusal;
    }
    qCInfo(lcServer) << "registered user" << *userId;
    return ok(*reply);
}

ApiReply SyncService::forgetPassword(const ApiRequest &request)
{
    const QString email = request.query.value(QStringLiteral("user_email")).toLower();
    if (!isEmail(email))
        return refuse(400, QStringLiteral("user_email malformed"));
    // The mail names this service; only the administrator's address is trusted for that, never
    // the Host header of whoever asked.
    if (m_config.publicUrl.isEmpty()) {
        qCWarning(lcServer) << "a password reset was asked for, but no mail is sent: public_url is not set";
        return refuse(503, QStringLiteral("password reset is not set up on this service"));
    }
    if (!m_resetsByAddress->allow(request.remoteAddress, now()))
        return tooMany(m_resetsByAddress->retryAfter(request.remoteAddress, now()));
    const auto user = m_storage.findUser(email);
    if (user.failed())
        return storageFailure(user.status());
    if (!user)
        return protocolCode(1002);
    if (!m_resetsByAccount->allow(email, now()))
        return tooMany(m_resetsByAccount->retryAfter(email, now()));
    const QString body =
        QStringLiteral(
            "Someone asked to reset the password of the Quillet sync account %1 on %2.\n\n"
            "This server is run by its own administrator. To choose a new password, ask them to run\n"
            "    quillet-sync-server --data-dir DATA_FOLDER --set-password %1\n"
            "on the server. If you did not ask for this, ignore this mail.")
            .arg(email, m_config.publicUrl);
    switch (m_mailer.send(email, QStringLiteral("Quillet: password reset"), body)) {
    case DurableFile::Result::Ok:
        return ok();
    case DurableFile::Result::NoSpace:
        return storageFailure(StoreStatus::NoSpace);
    case DurableFile::Result::Failed:
        break;
    }
    return refuse(500, QStringLiteral("cannot send the mail"));
}

ApiReply SyncService::push(const ApiRequest &request, const Caller &caller,
                           const std::optional<IncomingRecord> &record)
{
    if (request.method == QLatin1String("GET")) {
        const auto historyId = queryId(request, QStringLiteral("history_id"));
        const QString hash = request.query.value(QStringLiteral("file_hash"));
        if (!historyId || !RecordJson::isFileHash(hash))
            return refuse(400, QStringLiteral("history_id or file_hash malformed"));
        const auto stored = m_storage.find(caller.userId, *historyId);
        if (stored.failed())
            return storageFailure(stored.status());
        if (!stored || stored->fileHash != hash)
            return refuse(404, QStringLiteral("no such record"));
        return ok({{QStringLiteral("history"), RecordJson::toJson(*stored)}});
    }
    if (request.method == QLatin1String("DELETE")) {
        const auto historyId = queryId(request, QStringLiteral("history_id"));
        if (!historyId)
            return refuse(400, QStringLiteral("history_id malformed"));
        // Deleting what is already gone succeeds: the clip is not in the account either way.
        const auto removed = m_storage.remove(caller.userId, caller.device, *historyId);
        if (removed.failed())
            return storageFailure(removed.status());
        if (removed) {
            if (removed->fileReady)
                m_objects.remove(objectKey(caller.userId, removed->fileHash));
            m_notifier.publish(caller.userId, QStringLiteral("history_delete"),
                               {{QStringLiteral("device_token"), caller.device},
                                {QStringLiteral("file_hash"), removed->fileHash}});
        }
        return ok();
    }
    const bool isPost = request.method == QLatin1String("POST");
    if (!record)
        return refuse(405, QStringLiteral("method not allowed"));
    if (isPost) {
        const auto stored = m_storage.createOrMerge(caller.userId, caller.device, *record, m_quota);
        if (stored.status() == StoreStatus::Refused)
            return refuse(507, QStringLiteral("the account's storage quota is used up"));
        if (!stored)
            return storageFailure(stored.status());
        // A clip first sent as a favourite (or with a later favourite decision than the service's).
        if (record->favourite.value_or(0) != 0 && stored->favourite == *record->favourite)
            announceFavourite(caller, *stored);
        return ok({{QStringLiteral("history"), RecordJson::toJson(*stored)}});
    }
    if (!record->historyId || *record->historyId <= 0)
        return refuse(400, QStringLiteral("history_id missing"));
    // An unknown record tells the device to treat its clip as local only.
    const auto updated = m_storage.update(caller.userId, caller.device, *record);
    if (updated.failed())
        return storageFailure(updated.status());
    if (!updated)
        return protocolCode(-10);
    return ok();
}

ApiReply SyncService::pull(const ApiRequest &request, const Caller &caller)
{
    const QString cursorText =
        request.query.value(QStringLiteral("last_request_timestamp"), QStringLiteral("0"));
    if (cursorText.size() > 18 || !matches(QStringLiteral("[0-9]+"), cursorText))
        return refuse(400, QStringLiteral("last_request_timestamp malformed"));
    int limit = m_config.maxPullRecords;
    if (request.query.contains(QStringLiteral("count"))) {
        const QString countText = request.query.value(QStringLiteral("count"));
        if (countText.size() > 9 || !matches(QStringLiteral("[0-9]+"), countText) || countText.toInt() <= 0)
            return refuse(400, QStringLiteral("count malformed"));
        limit = qMin(limit, countText.toInt());
    }
    // The storage hands over one bounded page; the reply is made after it let go.
    auto result = m_storage.pull(caller.userId, caller.device, cursorText.toLongLong(), limit,
                                 m_config.maxPullBytes, caller.sinceSeq);
    if (!result)
        return storageFailure(result.status());
    QJsonArray actions;
    for (qint64 id : result->deletedHistoryIds)
        actions.append(QJsonObject{{QStringLiteral("action"), QStringLiteral("del")},
                                   {QStringLiteral("history_id"), id}});
    QJsonObject reply{{QStringLiteral("code"), 0},
                      {QStringLiteral("request_timestamp"), result->cursor},
                      {QStringLiteral("action"), actions}};
    if (result->clearTime)
        reply.insert(QStringLiteral("clear_all_ts"), *result->clearTime);
    // Clients that know the key pull the next page at once instead of waiting for the user.
    if (result->truncated)
        reply.insert(QStringLiteral("has_more"), true);
    // The records are written one by one into the reply, each let go once written, so a page
    // is held about once in memory rather than as records, JSON values and text at the same time.
    QByteArray body = QJsonDocument(reply).toJson(QJsonDocument::Compact);
    body.chop(1);
    body += ",\"histories\":[";
    for (qsizetype i = 0; i < result->records.size(); ++i) {
        if (i > 0)
            body += ',';
        body += QJsonDocument(RecordJson::toJson(result->records[i])).toJson(QJsonDocument::Compact);
        result->records[i] = StoredRecord();
    }
    body += "]}";
    return {200, body};
}

ApiReply SyncService::getFavourite(const QJsonObject &body, const Caller &caller)
{
    const QJsonValue favourites = body.value(QStringLiteral("favourites"));
    if (!favourites.isObject() || favourites.toObject().size() > 100000)
        return refuse(400, QStringLiteral("favourites must be an object"));
    QList<std::pair<qint64, qint64>> held;
    const QJsonObject map = favourites.toObject();
    for (auto it = map.begin(); it != map.end(); ++it) {
        const bool idOk = it.key().size() <= 10 && matches(QStringLiteral("[0-9]+"), it.key());
        const auto favourite =
            RecordJson::wholeNumber(it.value().toObject().value(QStringLiteral("favourite")),
                                    -RecordJson::kMaxTime, RecordJson::kMaxTime);
        if (!idOk || !it.value().isObject() || !favourite)
            return refuse(
                400, QStringLiteral("favourites entries must be {\"<history id>\": {\"favourite\": time}}"));
        held.append({it.key().toLongLong(), *favourite});
    }
    const auto result = m_storage.reconcile(caller.userId, caller.device, held);
    if (!result)
        return storageFailure(result.status());
    QJsonArray deleted;
    for (qint64 id : result->deleted)
        deleted.append(QJsonObject{{QStringLiteral("history_id"), id}});
    QJsonArray withdrawn;
    for (const auto &[id, favourite] : result->withdrawn)
        withdrawn.append(
            QJsonObject{{QStringLiteral("history_id"), id}, {QStringLiteral("favourite"), favourite}});
    QJsonArray histories;
    for (const StoredRecord &record : result->records)
        histories.append(RecordJson::toJson(record));
    // Decisions this device made while it could not send them reach the others now.
    for (const StoredRecord &record : result->taken)
        announceFavourite(caller, record);
    return ok({{QStringLiteral("delfavourites"), deleted},
               {QStringLiteral("unfavourites"), withdrawn},
               {QStringLiteral("histories"), histories}});
}

ApiReply SyncService::setFavourite(const IncomingRecord &record, const Caller &caller)
{
    const auto stored =
        m_storage.setFavourite(caller.userId, caller.device, record.fileHash, record.favourite.value_or(0));
    if (stored.failed())
        return storageFailure(stored.status());
    // A clip the account no longer has: the device removes it.
    if (!stored)
        return protocolCode(-4);
    // The sent decision is the one the service holds now: the other devices take it at once.
    if (record.favourite.value_or(0) != 0 && stored->favourite == *record.favourite)
        announceFavourite(caller, *stored);
    return ok({{QStringLiteral("history"), RecordJson::toJson(*stored)}});
}

ApiReply SyncService::uploadToken(const ApiRequest &request, const Caller &caller)
{
    const QString hash = request.query.value(QStringLiteral("file_hash"));
    const auto fileId = queryId(request, QStringLiteral("file_id"));
    if (!RecordJson::isFileHash(hash) || !fileId)
        return refuse(400, QStringLiteral("file_hash or file_id malformed"));
    const auto record = m_storage.findByHash(caller.userId, hash);
    if (record.failed())
        return storageFailure(record.status());
    if (!record || record->fileId != *fileId)
        return refuse(404, QStringLiteral("no such file"));
    UploadGrant grant;
    grant.userId = caller.userId;
    grant.historyId = record->historyId;
    grant.nonce = Secrets::randomHex(16);
    grant.fileHash = hash;
    grant.fileId = *fileId;
    grant.deviceToken = caller.device;
    const auto added =
        m_storage.addGrant(grant.nonce, grant.userId, grant.historyId, now() + m_policy.lifetime());
    if (!added)
        return storageFailure(added.status());
    QJsonObject reply = m_policy.issue(grant, now());
    reply.insert(QStringLiteral("host"), QString(request.baseUrl + QStringLiteral("/upload/")));
    return ok(reply);
}

ApiReply SyncService::downloadFile(const ApiRequest &request, const Caller &caller)
{
    const QString hash = request.query.value(QStringLiteral("file_hash"));
    const auto fileId = queryId(request, QStringLiteral("file_id"));
    if (!RecordJson::isFileHash(hash) || !fileId)
        return refuse(400, QStringLiteral("file_hash or file_id malformed"));
    const auto record = m_storage.findByHash(caller.userId, hash);
    if (record.failed())
        return storageFailure(record.status());
    if (!record || record->fileId != *fileId || !record->fileReady)
        return refuse(404, QStringLiteral("no such file"));
    auto bytes = m_objects.get(objectKey(caller.userId, hash));
    if (!bytes)
        return refuse(404, QStringLiteral("no such file"));
    return {200, std::move(*bytes), "application/octet-stream"};
}

ApiReply SyncService::clearHistory(const Caller &caller)
{
    const qint64 time = now();
    const auto result = m_storage.clear(caller.userId, caller.device, time);
    if (!result)
        return storageFailure(result.status());
    for (const QString &key : result->objectKeys)
        m_objects.remove(key);
    m_notifier.publish(
        caller.userId, QStringLiteral("history_clear"),
        {{QStringLiteral("device_token"), caller.device}, {QStringLiteral("timestamp"), time}});
    return ok({{QStringLiteral("count"), result->count}});
}

ApiReply SyncService::logout(const ApiRequest &request, const Caller &caller)
{
    // The device named is the one the token was made for, not whatever the query says.
    const auto ended =
        m_storage.removeToken(Secrets::tokenDigest(request.query.value(QStringLiteral("user_token"))));
    if (ended.failed())
        return storageFailure(ended.status());
    // Removing the device's broker account also ends its connection.
    if (ended && m_accounts && !m_accounts->removeDevices({{caller.userId, *ended}}))
        qCWarning(lcServer) << "cannot remove a signed-out device's broker account";
    return ok();
}

void SyncService::announceFavourite(const Caller &caller, const StoredRecord &record)
{
    m_notifier.publish(caller.userId, QStringLiteral("history_favourite"),
                       {{QStringLiteral("device_token"), caller.device},
                        {QStringLiteral("history"), RecordJson::toJson(record)}});
}

ApiReply SyncService::upload(const ApiRequest &request)
{
    for (const char *field : {"key", "policy", "callback", "OSSAccessKeyID", "signature"}) {
        if (!request.formFields.contains(QLatin1String(field)))
            return refuse(400, QStringLiteral("form field missing: ") + QLatin1String(field));
    }
    if (!request.formFile)
        return refuse(400, QStringLiteral("form field missing: file"));
    const QByteArray &payload = *request.formFile;
    const auto verdict =
        m_policy.verify(QString::fromUtf8(request.formFields.value(QStringLiteral("key"))),
                        request.formFields.value(QStringLiteral("policy")),
                        request.formFields.value(QStringLiteral("callback")),
                        QString::fromUtf8(request.formFields.value(QStringLiteral("OSSAccessKeyID"))),
                        request.formFields.value(QStringLiteral("signature")), payload.size(), now());
    if (const auto *refusal = std::get_if<UploadRefusal>(&verdict))
        return refuse(refusal->httpStatus, refusal->reason);
    const UploadGrant grant = std::get<UploadGrant>(verdict);
    const auto record = m_storage.find(grant.userId, grant.historyId);
    if (record.failed())
        return storageFailure(record.status());
    // The grant names the record as it was issued: a record deleted and pushed again is another.
    if (!record || record->fileHash != grant.fileHash || record->fileId != grant.fileId)
        return refuse(404, QStringLiteral("no such file"));
    if (record->fileReady)
        return refuse(409, QStringLiteral("the file is already stored"));
    // A payload stored as it is must be what its record's hash names.
    if (!isZipped(record->type)
        && QString::fromLatin1(QCryptographicHash::hash(payload, QCryptographicHash::Md5).toHex())
               != grant.fileHash)
        return refuse(400, QStringLiteral("the file does not match its hash"));
    if (m_quota.maxBytes > 0) {
        const auto used = m_storage.usage(grant.userId);
        if (!used)
            return storageFailure(used.status());
        if (used->bytes + payload.size() > m_quota.maxBytes)
            return refuse(507, QStringLiteral("the account's storage quota is used up"));
    }
    // The grant is used up before anything is written: two posts of one form store one file.
    const auto consumed = m_storage.consumeGrant(grant.nonce, grant.userId, grant.historyId, now());
    if (consumed.failed())
        return storageFailure(consumed.status());
    if (!consumed)
        return refuse(403, QStringLiteral("the upload grant was used already"));
    const QString key = objectKey(grant.userId, grant.fileHash);
    if (const StoreStatus put = m_objects.put(key, payload); put != StoreStatus::Ok)
        return storageFailure(put);
    const auto ready = m_storage.markFileReady(grant.userId, grant.deviceToken, grant.historyId,
                                               grant.fileHash, grant.fileId, payload.size());
    if (!ready) {
        // The record went away while the file was written, or could not be marked: the file
        // is not kept, so no object exists without its record saying so.
        m_objects.remove(key);
        if (ready.failed())
            return storageFailure(ready.status());
        return refuse(404, QStringLiteral("no such file"));
    }
    m_notifier.publish(grant.userId, QStringLiteral("history_upload_file"),
                       {{QStringLiteral("device_token"), grant.deviceToken},
                        {QStringLiteral("file_hash"), grant.fileHash},
                        {QStringLiteral("history_id"), ready->historyId},
                        {QStringLiteral("file_id"), ready->fileId}});
    const int status = request.formFields.value(QStringLiteral("success_action_status")).toInt();
    return json({{QStringLiteral("code"), 0}}, status == 201 ? 201 : 200);
}

ApiReply SyncService::checkVersion() const
{
    // A service whose configuration names no release offers its own version.
    const QString version =
        m_config.latestVersion.isEmpty() ? QLatin1String(BuildInfo::version) : m_config.latestVersion;
    return ok(
        {{QStringLiteral("data"), QJsonObject{{QStringLiteral("version"), version},
                                              {QStringLiteral("update_info"), m_config.updateInfo},
                                              {QStringLiteral("download_url"), m_config.downloadUrl}}}});
}

ApiReply SyncService::plugins(const ApiRequest &request) const
{
    return json(m_plugins.listing(request.baseUrl + QStringLiteral("/plugin_files/")));
}

ApiReply SyncService::pluginFile(const ApiRequest &request) const
{
    auto bytes = m_plugins.package(request.endpoint.mid(int(qstrlen("/plugin_files/"))));
    if (!bytes)
        return refuse(404, QStringLiteral("no such package"));
    return {200, std::move(*bytes), "application/octet-stream"};
}
