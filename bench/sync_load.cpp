// Simulated devices against the sync service on loopback: users x devices, each capturing at a
// steady rate (one capture a minute stands for a real device). A capture pulls, pushes a new
// clip and, for one in five, uploads a 16 KiB payload, which sends a notice to the user's other
// devices; a sample of users listens for those notices on the broker. Captures are scheduled
// ahead of time (open loop), so a service that falls behind shows it in the latency, which is
// taken from when the capture was due.
//
//   sync_load [--users N] [--devices N] [--per-minute N] [--seconds N] [--workers N] [SETUP...]
// SETUP is any of sqlite, pg, pg2 (two service processes behind HAProxy); default: all three.
// The target is the load of 10,000 users with 10 devices (about 1,700 pushes a second): with
// the defaults, 100 x 10 devices capturing 100 times a minute each.

#include "LoadSetup.h"
#include "MqttListener.h"
#include "SyncClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QMap>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    int users = 100;
    int devicesPerUser = 10;
    int perMinute = 100;
    int seconds = 30;
    int workers = 24;
    int listeningUsers = 10;
    QStringList setups;
};

struct Device {
    QString token;
    QString userToken;
    int user = 0;
    qint64 cursor = 0;
};

struct Results {
    std::vector<double> pushMs; // from when the capture was due to its push's answer
    std::vector<double> captureMs; // the whole capture, from when it was due
    int pushes = 0;
    int uploads = 0;
    int heardUploads = 0; // uploads of the users whose notices are listened to
    double seconds = 0; // from the first capture due to the last answered (past the run when behind)
    int errors = 0;
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(double(values.size()) * p))];
}

// CPU seconds used so far by the processes of each name that take part (the service, its
// database, broker and load balancer, and this bench), from /proc: where the time goes.
QMap<QString, double> cpuSecondsByProgram()
{
    static const QStringList programs{u"quillet-sync-se"_s, u"postgres"_s, u"mosquitto"_s, u"haproxy"_s,
                                      u"sync_load"_s};
    const double tick = double(sysconf(_SC_CLK_TCK));
    QMap<QString, double> seconds;
    for (const QString &pid : QDir(u"/proc"_s).entryList({u"[0-9]*"_s}, QDir::Dirs)) {
        QFile stat(u"/proc/%1/stat"_s.arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
        const QString name = QString::fromLatin1(line.mid(open + 1, close - open - 1));
        if (open < 0 || close < 0 || !programs.contains(name))
            continue;
        // After the name: state is field 3, utime and stime are fields 14 and 15.
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() > 12)
            seconds[name] += (fields[11].toDouble() + fields[12].toDouble()) / tick;
    }
    return seconds;
}

// Runs `work(i)` for i in [0, count) on `workers` threads.
template<typename Work> void inParallel(int count, int workers, Work work)
{
    std::atomic<int> next{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&] {
            for (int i = next++; i < count; i = next++)
                work(i);
        });
    }
    for (auto &t : threads)
        t.join();
}

// Registers the users, then signs in each of their devices.
std::vector<Device> signIn(const QString &origin, const Options &o, std::atomic<int> &failures)
{
    std::vector<Device> devices(size_t(o.users * o.devicesPerUser));
    const auto account = [&](int i, bool registering) {
        Device &d = devices[size_t(i)];
        d.user = i / o.devicesPerUser;
        d.token = u"load-device-%1"_s.arg(i);
        SyncClient client(origin, d.token);
        const QString email = u"load%1@example.org"_s.arg(d.user);
        const HttpReply reply =
            registering ? client.registerUser(email, u"pw"_s) : client.login(email, u"pw"_s);
        if (reply.code() != 0 && failures++ == 0)
            std::fprintf(stderr, "sign-in failed: %d %s\n", reply.status, reply.body.constData());
        d.userToken = client.userToken();
    };
    inParallel(o.users, o.workers, [&](int user) { account(user * o.devicesPerUser, true); });
    inParallel(int(devices.size()), o.workers, [&](int i) {
        if (i % o.devicesPerUser != 0)
            account(i, false);
    });
    return devices;
}

// One capture of a device: pull, push a new clip, and for every fifth an upload of its payload.
bool capture(SyncClient &client, Device &d, int n, bool withFile, Clock::time_point due, bool heard,
             Results &r)
{
    client.actAs(d.token, d.userToken);
    const HttpReply pulled = client.pull(d.cursor);
    if (pulled.code() != 0)
        return false;
    d.cursor = pulled.cursor();
    const QString text = u"%1 capture %2"_s.arg(d.token).arg(n);
    QJsonObject record = SyncClient::textRecord(text, 1700000000 + n);
    const QByteArray payload =
        withFile ? QByteArray(16 * 1024, char('a' + n % 26)) + text.toUtf8() : QByteArray();
    if (withFile)
        record.insert(u"file_hash"_s, SyncClient::md5Hex(payload));
    const HttpReply pushed = client.pushRecord(record);
    r.pushMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - due).count());
    ++r.pushes;
    if (pushed.code() != 0)
        return false;
    if (withFile) {
        ++r.uploads;
        if (client.upload(pushed.history(), payload).status != 200)
            return false;
        r.heardUploads += heard ? 1 : 0;
    }
    return true;
}

// Drives the captures of every device for the run's length; answers the merged results.
Results drive(const QString &origin, std::vector<Device> &devices, int listeningUsers, const Options &o)
{
    const auto period = std::chrono::microseconds(60'000'000 / o.perMinute);
    const auto start = Clock::now() + std::chrono::milliseconds(200);
    const auto end = start + std::chrono::seconds(o.seconds);
    std::vector<Results> perWorker(size_t(o.workers));
    std::vector<std::thread> threads;
    for (int w = 0; w < o.workers; ++w) {
        threads.emplace_back([&, w] {
            SyncClient client(origin, QString());
            Results &r = perWorker[size_t(w)];
            // This worker's devices, each due at its own phase of the period.
            std::vector<std::pair<Clock::time_point, size_t>> due;
            for (size_t i = size_t(w); i < devices.size(); i += size_t(o.workers))
                due.emplace_back(start + period * qint64(i) / qint64(devices.size()), i);
            std::vector<int> counts(devices.size(), 0);
            while (true) {
                auto soonest = std::min_element(due.begin(), due.end());
                if (soonest == due.end() || soonest->first >= end)
                    break;
                std::this_thread::sleep_until(soonest->first);
                const size_t i = soonest->second;
                const int n = counts[i]++;
                if (!capture(client, devices[i], n, (n + int(i)) % 5 == 0, soonest->first,
                             devices[i].user < listeningUsers, r))
                    ++r.errors;
                r.captureMs.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - soonest->first).count());
                soonest->first += period;
            }
        });
    }
    for (auto &t : threads)
        t.join();
    Results all;
    all.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (Results &r : perWorker) {
        all.pushMs.insert(all.pushMs.end(), r.pushMs.begin(), r.pushMs.end());
        all.captureMs.insert(all.captureMs.end(), r.captureMs.begin(), r.captureMs.end());
        all.pushes += r.pushes;
        all.uploads += r.uploads;
        all.heardUploads += r.heardUploads;
        all.errors += r.errors;
    }
    return all;
}

void runSetup(const QString &name, const Options &o)
{
    LoadSetup setup;
    if (!setup.start(name)) {
        std::printf("%-8s could not start: %s\n", qPrintable(name), qPrintable(setup.error()));
        return;
    }
    std::atomic<int> signInFailures{0};
    std::vector<Device> devices = signIn(setup.origin(), o, signInFailures);

    // A sample of users hears the upload notices on the broker, as one of their devices would.
    std::vector<std::unique_ptr<MqttListener>> listeners;
    for (int u = 0; u < std::min(o.listeningUsers, o.users); ++u) {
        SyncClient listener(setup.origin(), u"load-listener-%1"_s.arg(u));
        listener.login(u"load%1@example.org"_s.arg(u), u"pw"_s);
        auto mqtt = std::make_unique<MqttListener>(listener.deviceToken());
        if (mqtt->connect(setup.mqttPort(), listener.mqttUser(), listener.mqttPassword()) != 0
            || mqtt->subscribe(u"user_id_%1"_s.arg(listener.userId())) != 1)
            break;
        listeners.push_back(std::move(mqtt));
    }

    const QMap<QString, double> cpuBefore = cpuSecondsByProgram();
    const Results r = drive(setup.origin(), devices, int(listeners.size()), o);
    const QMap<QString, double> cpuAfter = cpuSecondsByProgram();
    const auto heardNotices = [&] {
        int heard = 0;
        for (auto &l : listeners) {
            for (const auto &m : l->messages())
                heard += m.json.value("protocol"_L1).toString() == "history_upload_file"_L1 ? 1 : 0;
        }
        return heard;
    };
    // Notices still on their way when the load ends get a few seconds to arrive.
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (heardNotices() < r.heardUploads && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int heard = heardNotices();
    std::printf("%-8s %5zu devices: %7.0f pushes/s (target %.0f)  push p50 %6.1f ms p99 %7.1f ms  "
                "capture p99 %7.1f ms  uploads %d  errors %d (sign-in %d)  notices heard %d of %d\n",
                qPrintable(name), devices.size(), double(r.pushes) / r.seconds,
                double(devices.size()) * o.perMinute / 60.0, percentile(r.pushMs, 0.5),
                percentile(r.pushMs, 0.99), percentile(r.captureMs, 0.99), r.uploads, r.errors,
                signInFailures.load(), heard, r.heardUploads);
    QString where;
    for (auto it = cpuAfter.begin(); it != cpuAfter.end(); ++it)
        where += u"  %1 %2%"_s.arg(it.key()).arg(100.0 * (it.value() - cpuBefore.value(it.key())) / r.seconds,
                                                 0, 'f', 0);
    std::printf("         CPU of one core during the load:%s\n", qPrintable(where));
    std::fflush(stdout);
}

Options parse(const QStringList &args)
{
    Options o;
    for (int i = 1; i < args.size(); ++i) {
        const auto number = [&](int &into) {
            if (i + 1 < args.size())
                into = std::max(1, args[++i].toInt());
        };
        if (args[i] == "--users"_L1)
            number(o.users);
        else if (args[i] == "--devices"_L1)
            number(o.devicesPerUser);
        else if (args[i] == "--per-minute"_L1)
            number(o.perMinute);
        else if (args[i] == "--seconds"_L1)
            number(o.seconds);
        else if (args[i] == "--workers"_L1)
            number(o.workers);
        else
            o.setups.append(args[i]);
    }
    if (o.setups.isEmpty())
        o.setups = {u"sqlite"_s, u"pg"_s, u"pg2"_s};
    return o;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const Options o = parse(app.arguments());
    std::printf("%d users x %d devices, %d captures a minute each, %d s, %d connections\n", o.users,
                o.devicesPerUser, o.perMinute, o.seconds, o.workers);
    for (const QString &setup : o.setups)
        runSetup(setup, o);
    return 0;
}
