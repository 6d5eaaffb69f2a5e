#pragma once

#include "ServerHarness.h"
#include "SyncClient.h"
#include "TestSync.h"
#include "store/ClipUserDefaults.h"
#include "store/HistoryModel.h"
#include "store/SettingsKeys.h"
#include "support/Md5.h"
#include "sync/AccountRequests.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <memory>

// What a request's completion received, and how often and where it ran.
struct RequestOutcome {
    int calls = 0;
    bool onMainThread = true;
    RequestResult result;
    int statusCode = 0;
    std::optional<RequestError> error;

    qint64 code() const { return result ? RequestManager::replyCode(*result) : -1; }
};

// Sends the request and waits (up to 20 s) for its completion; then lets queued work run once
// more, so that a second completion would be counted.
inline RequestOutcome sendAndWait(const std::shared_ptr<RequestManager> &request)
{
    auto outcome = std::make_shared<RequestOutcome>();
    request->request(testSync(), [outcome](const RequestResult &result, int statusCode,
                                           const std::optional<RequestError> &error) {
        ++outcome->calls;
        outcome->onMainThread =
            outcome->onMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        outcome->result = result;
        outcome->statusCode = statusCode;
        outcome->error = error;
    });
    (void)QTest::qWaitFor([&] { return outcome->calls > 0; }, 20000);
    QCoreApplication::processEvents();
    return *outcome;
}

// Registers the account through the request layer, which signs this device in.
inline RequestOutcome registerAccount(const QString &email, const QString &password)
{
    auto request = std::make_shared<RegisterRequestManager>();
    request->setUsername(email);
    request->setPwdHash(md5_hex(password));
    return sendAndWait(request);
}

// A fresh account for one case: this device registered and signed in against the service,
// with no pull cursor, and another device of the same user as a protocol client (none when
// either failed). caFile: the authority of a service with TLS.
inline std::unique_ptr<SyncClient> freshAccount(const ServerHarness &server, const QString &email,
                                                const QString &caFile = {})
{
    qputenv("QUILLET_API_URL", server.apiUrl().toUtf8());
    ClipUserDefaults::remove(QLatin1String(SettingsKeys::lastPullRequestTime));
    auto other = std::make_unique<SyncClient>(server.origin(), QStringLiteral("other-device"), caFile);
    if (registerAccount(email, QStringLiteral("pw")).code() != 0
        || other->login(email, QStringLiteral("pw")).code() != 0)
        return nullptr;
    return other;
}

inline bool lanesIdle()
{
    return !testSync().historyLane().isRunning() && !testSync().favouriteLane().isRunning()
           && !testSync().fileLane().isRunning();
}

// The row of the clip whose payload is this text, as stored now; an empty row when none.
inline HistoryModel storedClip(const QString &text, const QString &category = Category::history)
{
    HistoryModel clip;
    clip.file_hash = md5_hex(text);
    clip.category = category;
    clip.fetch();
    return clip;
}
