// How long a copy takes to become a readable history row, measured against the real program
// under its own X server, and against CopyQ under the same server in the same run when it is
// installed. This process is the other program that copies: it owns the clipboard and offers
// a new text at random moments (so that every phase of the monitors' timers is met), starts
// the clock when the X server has confirmed its ownership, and stops it when the text's row
// is readable in Quillet's SQLite file, and when CopyQ's first item is the text (a CopyQ script
// that reads its first item every millisecond or so reports the time it saw it).
//
// Also measured: how many of 20 texts copied 0.1 s apart become rows, and how long after the
// program's exec the text on the clipboard at start is a row.
//
// Usage: capture_latency [--copies N] [--no-copyq] [--quillet PATH]
// Other work on the same machine (builds, tests) shows in the figures: compare figures of one
// run, and repeat a run on a quiet machine before drawing conclusions from small differences.
#include "XvfbServer.h"

#include <QClipboard>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QUuid>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace {

using Clock = std::chrono::system_clock;

double nowMs()
{
    return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
}

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

// Runs the event loop (so that this process answers the monitors' requests for the offered
// text) until done() holds, checking it every millisecond; false after the timeout.
bool serveUntil(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QElapsedTimer clock;
    clock.start();
    bool reached = false;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done()) {
            reached = true;
            loop.quit();
        } else if (clock.elapsed() >= timeoutMs) {
            loop.quit();
        }
    });
    tick.start();
    loop.exec();
    return reached;
}

void serveFor(int ms)
{
    serveUntil([] { return false; }, ms);
}

// Takes the clipboard with this text. QClipboard returns once the X server has confirmed the
// new owner; that moment is returned (epoch ms), or nothing when the ownership failed.
std::optional<double> offer(const QString &text)
{
    auto *data = new QMimeData;
    data->setText(text);
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
    const double owned = nowMs();
    if (!QGuiApplication::clipboard()->ownsClipboard())
        return std::nullopt;
    return owned;
}

QString md5Hex(const QString &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

// Read-only looks into Quillet's history database; opened once the program has made it.
class HistoryFile final
{
public:
    explicit HistoryFile(QString path)
        : m_path(std::move(path))
    { }
    ~HistoryFile() { close(); }
    HistoryFile(const HistoryFile &) = delete;
    HistoryFile &operator=(const HistoryFile &) = delete;

    bool hasRow(const QString &hash)
    {
        if (!m_query && !open())
            return false;
        const QByteArray key = hash.toLatin1();
        sqlite3_reset(m_query);
        sqlite3_bind_text(m_query, 1, key.constData(), int(key.size()), SQLITE_TRANSIENT);
        const bool found = sqlite3_step(m_query) == SQLITE_ROW;
        sqlite3_reset(m_query);
        return found;
    }

private:
    bool open()
    {
        if (!QFile::exists(m_path))
            return false;
        if (sqlite3_open_v2(QFile::encodeName(m_path).constData(), &m_db, SQLITE_OPEN_READONLY, nullptr)
                != SQLITE_OK
            || sqlite3_prepare_v2(m_db, "select 1 from History where file_hash = ? and category = 'history'",
                                  -1, &m_query, nullptr)
                   != SQLITE_OK) {
            close(); // not made yet: tried again at the next look
            return false;
        }
        return true;
    }
    void close()
    {
        sqlite3_finalize(m_query);
        sqlite3_close(m_db);
        m_query = nullptr;
        m_db = nullptr;
    }

    QString m_path;
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_query = nullptr;
};

// CopyQ with its own settings under a temporary home, and a script that reports each new first
// item with the time it saw it.
class CopyQ final
{
public:
    explicit CopyQ(const QString &home)
    {
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("HOME"), home);
        m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        m_env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
        m_env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/run"));
        QDir(home).mkpath(QStringLiteral("run"));
        QFile::setPermissions(home + QStringLiteral("/run"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        m_server.setProcessEnvironment(m_env);
        m_server.setStandardOutputFile(QProcess::nullDevice());
        m_server.setStandardErrorFile(QProcess::nullDevice());
        m_watcher.setProcessEnvironment(m_env);
        QObject::connect(&m_watcher, &QProcess::readyReadStandardOutput, [this] { readWatcher(); });
    }
    ~CopyQ()
    {
        for (QProcess *process : {&m_watcher, &m_server}) {
            if (process->state() == QProcess::NotRunning)
                continue;
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished(2000);
            }
        }
    }
    CopyQ(const CopyQ &) = delete;
    CopyQ &operator=(const CopyQ &) = delete;

    bool start()
    {
        m_server.start(QStringLiteral("copyq"), {});
        if (!m_server.waitForStarted(10000))
            return false;
        if (!serveUntil([this] { return eval(QStringLiteral("print('up')")) == "up"; }, 20000))
            return false;
        // The first item, read about every millisecond; a change is printed with the time it was
        // seen, so that the reading of this output adds nothing to the figure.
        m_watcher.start(QStringLiteral("copyq"),
                        {QStringLiteral("eval"),
                         QStringLiteral("var last = str(read(0)); var nl = String.fromCharCode(10);"
                                        "for (;;) { var t = str(read(0));"
                                        " if (t !== last) { last = t; print(Date.now() + ' ' + t + nl); }"
                                        " sleep(1); }")});
        return m_watcher.waitForStarted(10000);
    }

    // When the watcher saw this text as the first item (epoch ms).
    std::optional<double> seen(const QString &text) const
    {
        const auto it = m_seen.find(text);
        return it == m_seen.end() ? std::nullopt : std::optional<double>(it->second);
    }

    // How many items start with this prefix, among the first 200.
    int itemsStartingWith(const QString &prefix)
    {
        const QByteArray answer =
            eval(QStringLiteral("var n = 0; for (var i = 0; i < Math.min(size(), 200); ++i)"
                                " if (str(read(i)).indexOf('%1') === 0) ++n; print(n);")
                     .arg(prefix));
        return answer.toInt();
    }

private:
    // Runs a script in a CopyQ client while this process goes on answering clipboard requests.
    QByteArray eval(const QString &script)
    {
        QProcess client;
        client.setProcessEnvironment(m_env);
        client.setStandardErrorFile(QProcess::nullDevice());
        client.start(QStringLiteral("copyq"), {QStringLiteral("eval"), script});
        if (!client.waitForStarted(10000))
            return {};
        serveUntil([&] { return client.state() == QProcess::NotRunning; }, 10000);
        return client.readAllStandardOutput().trimmed();
    }

    void readWatcher()
    {
        while (m_watcher.canReadLine()) {
            const QString line = QString::fromUtf8(m_watcher.readLine()).trimmed();
            const qsizetype space = line.indexOf(QLatin1Char(' '));
            if (space > 0)
                m_seen.emplace(line.mid(space + 1), line.left(space).toDouble());
        }
    }

    QProcessEnvironment m_env;
    QProcess m_server;
    QProcess m_watcher;
    std::map<QString, double> m_seen;
};

struct Series {
    std::vector<double> ms;
    int missed = 0;
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<size_t>(std::max(1.0, std::ceil(p / 100.0 * double(values.size()))));
    return values[std::min(rank, values.size()) - 1];
}

void report(const char *name, const Series &series)
{
    out() << QString::asprintf(
        "%-8s p50 %7.1f ms   p90 %7.1f ms   max %7.1f ms   (%zu copies, %d not seen)\n", name,
        percentile(series.ms, 50), percentile(series.ms, 90), percentile(series.ms, 100), series.ms.size(),
        series.missed);
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly)
               ? QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2)
               : QStringLiteral("?");
}

} // namespace

int main(int argc, char *argv[])
{
    int copies = 30;
    bool withCopyQ = true;
    QString quillet = QStringLiteral(QUILLET_PROGRAM);
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        if (arg == "--copies" && i + 1 < argc)
            copies = std::max(1, QByteArray(argv[++i]).toInt());
        else if (arg == "--no-copyq")
            withCopyQ = false;
        else if (arg == "--quillet" && i + 1 < argc)
            quillet = QFile::decodeName(argv[++i]);
        else {
            std::fprintf(stderr, "usage: %s [--copies N] [--no-copyq] [--quillet PATH]\n", argv[0]);
            return 2;
        }
    }

    XvfbServer xvfb;
    if (!xvfb.start()) {
        std::fprintf(stderr, "Xvfb could not be started\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    out() << "load average at start: " << loadAverage() << Qt::endl;

    QTemporaryDir data;
    QTemporaryDir config;
    QTemporaryDir copyqHome;
    HistoryFile history(data.filePath(QStringLiteral("clipDB.sqlite")));
    const QString run = QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);

    // 1. The text on the clipboard at start, from the program's exec.
    const QString atStart = QStringLiteral("on the clipboard at start ") + run;
    if (!offer(atStart)) {
        std::fprintf(stderr, "this process could not take the clipboard\n");
        return 1;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUILLET_DATA_DIR"), data.path());
    env.insert(QStringLiteral("QUILLET_CONFIG_DIR"), config.path());
    QProcess program;
    program.setProcessEnvironment(env);
    program.setStandardOutputFile(QProcess::nullDevice());
    program.setStandardErrorFile(QProcess::nullDevice());
    const double exec = nowMs();
    program.start(quillet, {});
    if (!program.waitForStarted(10000)) {
        std::fprintf(stderr, "%s did not start\n", qPrintable(quillet));
        return 1;
    }
    double firstCapture = -1;
    if (serveUntil([&] { return history.hasRow(md5Hex(atStart)); }, 10000))
        firstCapture = nowMs() - exec;

    std::unique_ptr<CopyQ> copyq;
    if (withCopyQ && !QStandardPaths::findExecutable(QStringLiteral("copyq")).isEmpty()) {
        copyq = std::make_unique<CopyQ>(copyqHome.path());
        if (!copyq->start()) {
            std::fprintf(stderr, "CopyQ did not start; measuring Quillet alone\n");
            copyq.reset();
        }
    }
    serveFor(1000); // both settled

    // 2. Single copies at random phases.
    Series quilletSeries;
    Series copyqSeries;
    for (int i = -1; i < copies; ++i) { // the first one warms up and is not counted
        serveFor(300 + int(QRandomGenerator::global()->bounded(700)));
        const QString text = QStringLiteral("copy %1 %2").arg(i).arg(run);
        const QString hash = md5Hex(text);
        const std::optional<double> owned = offer(text);
        if (!owned) {
            std::fprintf(stderr, "ownership failed at copy %d\n", i);
            return 1;
        }
        std::optional<double> quilletSeen;
        serveUntil(
            [&] {
                if (!quilletSeen && history.hasRow(hash))
                    quilletSeen = nowMs();
                return quilletSeen && (!copyq || copyq->seen(text));
            },
            3000);
        if (i < 0)
            continue;
        if (quilletSeen)
            quilletSeries.ms.push_back(*quilletSeen - *owned);
        else
            ++quilletSeries.missed;
        if (copyq) {
            if (const std::optional<double> seen = copyq->seen(text))
                copyqSeries.ms.push_back(std::max(0.0, *seen - *owned));
            else
                ++copyqSeries.missed;
        }
    }

    // 3. A burst: 20 texts 0.1 s apart.
    const QString burstPrefix = QStringLiteral("burst ") + run + QLatin1Char(' ');
    QStringList burst;
    for (int i = 0; i < 20; ++i) {
        burst << burstPrefix + QString::number(i);
        if (!offer(burst.last())) {
            std::fprintf(stderr, "ownership failed in the burst\n");
            return 1;
        }
        serveFor(100);
    }
    const auto quilletBurstRows = [&] {
        return int(std::count_if(burst.cbegin(), burst.cend(),
                                 [&](const QString &text) { return history.hasRow(md5Hex(text)); }));
    };
    serveUntil([&] { return quilletBurstRows() == burst.size(); }, 3000);
    const int quilletBurst = quilletBurstRows();
    const int copyqBurst = copyq ? copyq->itemsStartingWith(burstPrefix) : -1;

    out() << "load average at end:   " << loadAverage()
          << " (2 cores shared with other work: expect noise)\n\n";
    out()
        << "From the clipboard's new owner to the readable row (short text, random phase, default settings):\n";
    report("Quillet", quilletSeries);
    if (copyq) {
        report("CopyQ", copyqSeries);
        if (!copyqSeries.ms.empty() && !quilletSeries.ms.empty())
            out() << QString::asprintf("Quillet / CopyQ: p50 %.2f, p90 %.2f\n",
                                       percentile(quilletSeries.ms, 50) / percentile(copyqSeries.ms, 50),
                                       percentile(quilletSeries.ms, 90) / percentile(copyqSeries.ms, 90));
    } else {
        out() << "CopyQ   not measured (not installed, or --no-copyq)\n";
    }
    out() << "\n20 texts copied 0.1 s apart, rows recorded: Quillet " << quilletBurst;
    if (copyq)
        out() << ", CopyQ " << copyqBurst;
    out() << "\nFirst capture after start (from exec, content already on the clipboard): ";
    if (firstCapture < 0)
        out() << "not within 10 s\n";
    else
        out() << QString::asprintf("%.1f ms\n", firstCapture);
    out().flush();

    program.terminate();
    if (!program.waitForFinished(5000)) {
        program.kill();
        program.waitForFinished(2000);
    }
    return 0;
}
