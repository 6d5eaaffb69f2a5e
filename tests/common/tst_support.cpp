// Support code: the serial worker, main-thread hand-overs, the Lua deadline, MD5; and the one
// rule by which a clip's favourite mark meets the service's.
#include "support/LuaDeadline.h"
#include "support/MainQueue.h"
#include "support/Md5.h"
#include "support/SerialWorker.h"
#include "sync/FavouriteMerge.h"

#include <QtTest>

#include <lua.hpp>

using namespace Qt::StringLiterals;
using FavouriteMerge::Tie;

class TestSupport final : public QObject
{
    Q_OBJECT

private slots:
    void serialWorkerRunsInOrderOffTheMainThread()
    {
        auto worker = std::make_unique<SerialWorker>();
        QList<int> order;
        QThread *seen = nullptr;
        for (int i = 0; i < 100; ++i)
            worker->async([&order, i] { order << i; });
        worker->sync([&] { seen = QThread::currentThread(); });
        QCOMPARE(order.size(), 100);
        QVERIFY(std::is_sorted(order.begin(), order.end()));
        QVERIFY(seen != QThread::currentThread());
        // sync from the worker's own work runs at once instead of deadlocking.
        bool nested = false;
        worker->sync([&] { worker->sync([&] { nested = true; }); });
        QVERIFY(nested);
        // The destructor waits for the work under way and drops what has not started.
        std::atomic<bool> finished = false;
        std::atomic<bool> dropped = true;
        QSemaphore started;
        worker->async([&] {
            started.release();
            QThread::msleep(100);
            finished = true;
        });
        worker->async([&] { dropped = false; });
        started.acquire();
        worker.reset();
        QVERIFY(finished);
        QVERIFY(dropped);
    }

    // A hand-over to the main thread whose context object is gone runs not at all (that the
    // completions of requests run on the main thread: tst_sync_requests replyFailures).
    void mainThreadHandOversRespectTheirContext()
    {
        bool ran = false;
        auto *context = new QObject;
        dispatchMain(context, [&] { ran = true; });
        runInBackground<int>(
            context, [] { return 1; }, [&](int) { ran = true; });
        delete context;
        // Both hand-overs are queued by now; delivering them must run neither.
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::sendPostedEvents();
        QVERIFY(!ran);
    }

    void luaDeadlineStopsLoopsEvenWhenTheyCatchErrors()
    {
        lua_State *state = luaL_newstate();
        luaL_openlibs(state);
        for (const char *script :
             {"while true do end", "while true do pcall(function() while true do end end) end"}) {
            QVERIFY(luaL_loadstring(state, script) == LUA_OK);
            LuaDeadline deadline(state, std::chrono::milliseconds(200));
            QCOMPARE(lua_pcall(state, 0, 0, 0), LUA_ERRRUN);
            QVERIFY(QByteArray(lua_tostring(state, -1)).contains(LuaDeadline::timeoutMessage()));
            lua_pop(state, 1);
        }
        // Disarmed: the same state runs ordinary code again.
        QVERIFY(luaL_dostring(state, "x = 0 for i = 1, 100000 do x = x + i end") == LUA_OK);
        lua_close(state);
    }

    // Hashes name payload files on every device: lower-case hex of the UTF-8 bytes.
    void md5HexIsLowerCaseOfUtf8Bytes()
    {
        QCOMPARE(md5_hex(u"abc"_s), u"900150983cd24fb0d6963f7d28e17f72"_s);
        QCOMPARE(md5_hex(u"é"_s), md5_hex(QByteArray("\xc3\xa9")));
    }

    // As pushes, pulls, reconciliations and set-favourite answers apply it: the newer decision
    // wins. mark -1: the local decision stands; 0: an unmark.
    void newerFavouriteDecisionWins()
    {
        struct Case {
            qint64 local;
            qint64 remote;
            Tie tie;
            qint64 mark;
        };
        for (const Case &c : {Case{100, 200, Tie::KeepLocal, 200}, Case{100, -200, Tie::KeepLocal, 0},
                              Case{300, -200, Tie::KeepLocal, -1}, Case{-300, 200, Tie::KeepLocal, -1},
                              Case{50, 0, Tie::TakeRemote, -1}, Case{200, -200, Tie::KeepLocal, -1},
                              Case{200, -200, Tie::TakeRemote, 0}}) {
            const auto decision = FavouriteMerge::merged(c.local, c.remote, c.tie);
            QCOMPARE(decision ? decision->mark : -1, c.mark);
            QVERIFY(!decision || decision->unmarked == (c.mark == 0));
        }
    }
};

QTEST_GUILESS_MAIN(TestSupport)
#include "tst_support.moc"
