#include "store/HistoryDatabase.h"

#include "store/ClipUserDefaults.h"
#include "store/DBFetcher.h"
#include "store/HistorySchema.h"
#include "store/PathHelper.h"
#include "store/PrivateFiles.h"
#include "support/Database.h"
#include "support/Log.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QTemporaryFile>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <optional>

namespace {

using State = HistoryDatabase::State;

// Written by prepare() under its once-flag, read after it.
QStringList &alertList()
{
    static QStringList alerts;
    return alerts;
}

void tellUser(const QString &message)
{
    qCWarning(lcStore).noquote() << message;
    alertList() << message;
}

QString notRecorded(const QString &problem)
{
    return problem + QCoreApplication::translate("HistoryDatabase", "新的剪贴板内容不会被记录。");
}

// A real write, since permissions say nothing about a read-only file system (or to root).
bool canWriteIn(const QString &folder)
{
    QTemporaryFile probe(folder + QStringLiteral("/.write-check-XXXXXX"));
    return probe.open();
}

// Creates the database file for the owner alone before SQLite does; SQLite gives its -wal and
// -shm files the permissions of the database file.
bool createPrivately(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

enum class Health { Sound, Damaged, Unreadable };

Health examine(const QString &path, QString &reason)
{
    // Read-only, so that looking at a damaged file leaves it exactly as it was.
    Database db(path, Database::Access::ReadOnly);
    if (!db.isOpen()) {
        reason = db.lastError();
        return Health::Unreadable;
    }
    SqlQuery rows = db.query("PRAGMA quick_check");
    const bool answered = rows.next();
    const QString verdict = answered ? rows.text(0).value_or(QString()) : QString();
    if (!answered || rows.failed()) {
        reason = db.lastError();
        return db.lastErrorIsDamage() ? Health::Damaged : Health::Unreadable;
    }
    if (verdict != QLatin1String("ok")) {
        reason = verdict;
        return Health::Damaged;
    }
    return Health::Sound;
}

bool renameFile(const QString &from, const QString &to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// Moves the damaged file and its companions aside; returns the new name of the database file.
// A write-ahead log left beside a fresh database would be replayed into it, so it must go.
std::optional<QString> moveAside(const QString &path)
{
    const QString base = path + QStringLiteral(".damaged-")
                         + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = base;
    for (int n = 2; QFile::exists(target) || QFile::exists(target + QStringLiteral("-wal")); ++n)
        target = base + QLatin1Char('-') + QString::number(n);
    if (!renameFile(path, target))
        return std::nullopt;
    for (const QString &suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        const QString companion = path + suffix;
        if (QFile::exists(companion) && !renameFile(companion, target + suffix) && !QFile::remove(companion))
            return std::nullopt;
    }
    return target;
}

State open()
{
    const QString folder = PathHelper::dataFolder();
    const QString path = DBFetcher::databasePath(); // creates the data folder
    PrivateFiles::tightenDataFolder();
    ClipUserDefaults::tighten();
    if (!canWriteIn(folder) || !createPrivately(path)) {
        tellUser(notRecorded(
            QCoreApplication::translate(
                "HistoryDatabase", "无法写入数据文件夹 %1。请检查它的权限，然后重新启动 Quillet；在此之前，")
                .arg(folder)));
        return State::Unavailable;
    }

    State state = State::Ready;
    QString reason;
    const Health health = examine(path, reason);
    std::optional<QString> aside;
    if (health == Health::Unreadable) {
        qCWarning(lcStore) << "the history database cannot be read:" << reason;
        tellUser(
            notRecorded(QCoreApplication::translate("HistoryDatabase", "无法读取历史数据库 %1。").arg(path)));
        return State::Unavailable;
    }
    if (health == Health::Damaged) {
        qCWarning(lcStore) << "the history database is damaged:" << reason;
        aside = moveAside(path);
        if (!aside || !createPrivately(path)) {
            tellUser(notRecorded(
                QCoreApplication::translate("HistoryDatabase", "历史数据库 %1 已损坏，且无法移到一旁。")
                    .arg(path)));
            return State::Unavailable;
        }
        state = State::Replaced;
    }

    bool ready = false;
    DBFetcher::inDatabase([&](Database &db) { ready = HistorySchema::setUp(db); });
    if (!ready) {
        tellUser(notRecorded(
            QCoreApplication::translate("HistoryDatabase", "无法更新历史数据库 %1 的结构。").arg(path)));
        return State::Unavailable;
    }
    if (aside)
        tellUser(QCoreApplication::translate("HistoryDatabase",
                                             "历史数据库已损坏，已移到 %1，并新建了空的历史记录。")
                     .arg(*aside));
    return state;
}

} // namespace

namespace HistoryDatabase {

State prepare()
{
    static std::once_flag once;
    static State state = State::Unavailable;
    std::call_once(once, [] { state = open(); });
    return state;
}

bool isUsable()
{
    return prepare() != State::Unavailable;
}

QStringList alerts()
{
    prepare();
    return alertList();
}

} // namespace HistoryDatabase
