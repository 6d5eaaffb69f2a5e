// The tray application without a display: the status menu over a real history database and data
// folder (its items, marks and keys, and the actions of its items), login items, the
// recently-used list and the single-instance guard.
#include "ClipFixtures.h"
#include "TestDirs.h"
#include "TestFiles.h"
#include "menu/ClipMenu.h"
#include "menu/MenuController.h"
#include "menu/StatusBarController.h"
#include "platform/MemoryKeyInjector.h"
#include "platform/MemoryPasteboard.h"
#include "platform/MemorySharingServices.h"
#include "platform/NMLoginItems.h"
#include "platform/RecentlyUsed.h"
#include "platform/SingleInstance.h"
#include "store/DBKeeper.h"
#include "store/PathHelper.h"
#include "store/SyncFailures.h"
#include "support/MainQueue.h"
#include "sync/ProgressManager.h"
#include "ui/InterfaceLanguage.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QMenu>
#include <QTest>
#include <QUrl>

using namespace ClipFixtures;
using namespace Qt::StringLiterals;

namespace {

QString makeProgram(const QString &path)
{
    TestFiles::write(path, "#!/bin/sh\n");
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
    return path;
}

QStringList texts(const QMenu *menu)
{
    QStringList result;
    for (const QAction *action : menu->actions())
        result << action->text();
    return result;
}

QAction *itemTitled(const QMenu *menu, const QString &text)
{
    return menu->actions().value(texts(menu).indexOf(text));
}

// The action submenu of a clip item, filled as when it is about to show.
QMenu *openedSubMenu(QAction *item)
{
    QMenu *sub = item ? item->menu() : nullptr;
    if (sub)
        Q_EMIT sub->aboutToShow();
    return sub;
}

HistoryModel storedRow(const QString &hash, const QString &category)
{
    HistoryModel row;
    row.file_hash = hash;
    row.category = category;
    row.fetch();
    return row;
}

HistoryModel imageOfSize(QColor colour, qint64 timestamp, qint64 size)
{
    HistoryModel clip = image(encodedImage("PNG", colour), timestamp);
    clip.file_size = size;
    clip.save();
    return clip;
}

} // namespace

class TestMenu final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    QTemporaryDir m_home;
    QTemporaryDir m_downloads;
    MemoryPasteboard m_pasteboard;
    MemoryKeyInjector m_injector;
    MemorySharingServices m_sharing{{{u"mail"_s, u"邮件"_s, QIcon()}}};
    QStringList m_notices;

    MenuController m_menus{testSync()};

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(u"config"_s)));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(u"data"_s)));
        // The titles this test checks are the Chinese ones.
        QVERIFY(InterfaceLanguage::apply(Settings::Language::Chinese));
        m_menus.actions().setPlatform({&m_pasteboard, &m_injector, &m_sharing});
        // Two levels down, so that a name climbing out of it still lands in the test's folder.
        QVERIFY(QDir().mkpath(m_downloads.filePath(u"a/b"_s)));
        m_menus.actions().setDownloadsFolder(m_downloads.filePath(u"a/b"_s));
        m_menus.actions().setDownloadNotice([this](const QString &path) { m_notices << path; });
    }

    void init()
    {
        testFiles().deleteFilesWithHashArray(DBKeeper::removeAllData());
        m_menus.actions().setPluginSource({});
        m_notices.clear();
    }

    // The tray item's spinner turns while any transfer is short of complete, and stops at
    // exactly 1.0: the last byte of a payload at the size limit still counts as busy.
    void busyIndicatorStopsOnlyWhenTransfersAreComplete()
    {
        StatusBarController tray{m_menus, testSync().progress()};
        constexpr qint64 total = 5767168;
        testSync().progress().progress(total - 1, total, {});
        bool handled = false;
        dispatchMain([&handled] { handled = true; });
        QTRY_VERIFY(handled);
        QVERIFY(tray.isLoading());
        testSync().progress().progress(total, total, {});
        QTRY_VERIFY(!tray.isLoading());
    }

    // A secret clip is marked; an image over the upload limit says so, one at the limit does
    // not; a type from a newer client cannot be chosen.
    void clipMarkers()
    {
        text(u"pass & word"_s, 3).signSecret(true);
        imageOfSize(Qt::red, 2, 5767169);
        imageOfSize(Qt::blue, 1, 5767168);
        HistoryModel unknown = text(u"from a newer client"_s, 0);
        unknown.type = u"video_mp4"_s;
        unknown.save();
        m_menus.buildMenu();
        QCOMPARE(texts(m_menus.mainMenu()).mid(1, 4),
                 (QStringList{u"[*机密*] pass && word\t1"_s, u"<图片>(大于5M，无法上传)\t2"_s, u"<图片>\t3"_s,
                              u"未知类型，请更新客户端"_s}));
        QVERIFY(!m_menus.mainMenu()->actions().at(4)->isEnabled());
    }

    // While signed in, a clip whose transfer failed for good has "重试" in its submenu, which
    // forgets the failure.
    void retryForgetsAFailure()
    {
        qputenv("QUILLET_API_URL", "http://127.0.0.1:9/api"); // the lanes "重试" starts find no service
        const HistoryModel failed = text(u"failed for good"_s, 1);
        QVERIFY(DBKeeper::updateHistoryID(7, 8, failed.hash()));
        QVERIFY(SyncFailures::recordFailure(SyncFailures::Lane::File, failed.hash(), true));
        testAccount().setLoginUserToken(u"token"_s);
        m_menus.buildMenu();
        QAction *retry = itemTitled(openedSubMenu(m_menus.mainMenu()->actions().at(1)), u"重试"_s);
        QVERIFY(retry);
        retry->trigger();
        QVERIFY(!SyncFailures::failedForGood().contains(failed.hash()));
        testAccount().setLoginUserToken(std::nullopt);
    }

    // The menu lists the 30 newest; a key with Control chooses the clip while the menu is
    // open, and pastes it.
    void thirtyNewestWithKeys()
    {
        for (int i = 0; i < 35; ++i)
            text(u"clip %1"_s.arg(i), 100 - i);
        m_menus.buildMenu();
        const QList<QAction *> items = m_menus.mainMenu()->actions();
        QCOMPARE(items.size(), 1 + 30 + 1 + 1 + 1 + 1 + 4);
        auto *menu = static_cast<ClipMenu *>(m_menus.mainMenu());
        QCOMPARE(menu->actionForKey(u"q"_s), items[11]);
        const int pastes = m_injector.pasteCount();
        menu->popup(QPoint(0, 0));
        QTest::keyClick(menu, Qt::Key_Q, Qt::ControlModifier);
        QTRY_COMPARE(m_injector.pasteCount(), pastes + 1);
        QCOMPARE(m_pasteboard.string().value_or(QString()), u"clip 10"_s);
    }

    // A plugin without a result leaves the clipboard empty rather than pasting the clip.
    void pluginWithoutResultPastesNothing()
    {
        text(u"plain"_s, 1);
        m_menus.actions().setPluginSource(
            {[] {
                 return QList<MenuPlugin>{{u"a.id"_s, u"Alpha"_s, u"first"_s}};
             },
             [](const MenuPlugin &, const QString &, QObject *, MenuPluginSource::Completion complete) {
                 complete(std::nullopt);
             }});
        m_menus.buildMenu();
        const int pastes = m_injector.pasteCount();
        itemTitled(openedSubMenu(m_menus.mainMenu()->actions().at(1)), u"Alpha"_s)->trigger();
        QTRY_COMPARE(m_injector.pasteCount(), pastes + 1);
        QCOMPARE(m_pasteboard.string().value_or(u"unset"_s), QString());
    }

    // The whole content is pasted, not the menu's abstract; an image as TIFF; a file as its
    // path; a clip whose payload is gone pastes nothing.
    void pastingWritesTheFullContent()
    {
        const QString longText = u"a long text whose title is only an abstract of it, line one\nline two"_s;
        HistoryModel clip = text(longText, 10);
        m_menus.actions().clickItem(clip);
        QCOMPARE(m_pasteboard.string().value_or(QString()), longText);
        HistoryModel tiff = image(encodedImage("TIFF"), 11);
        m_menus.actions().clickItem(tiff);
        QCOMPARE(m_pasteboard.tiffData(), testFiles().getDataWithMd5(tiff.hash()).value());
        m_menus.actions().clickItem(file(u"notes.txt"_s, "notes", 12));
        QCOMPARE(QFileInfo(m_pasteboard.firstFilePath().value_or(QString())).fileName(), u"notes.txt"_s);
        QFile::remove(PathHelper::getBaseFilePath(clip.hash()));
        m_menus.actions().clickItem(clip);
        QCOMPARE(m_pasteboard.string().value_or(u"unset"_s), QString());
    }

    void favouriteAndUnfavourite()
    {
        HistoryModel clip = text(u"keep me"_s, 10);
        m_menus.actions().favourite(clip);
        QVERIFY(storedRow(clip.hash(), Category::favourite).favourite.value_or(0) > 0);
        m_menus.actions().favourite(storedRow(clip.hash(), Category::history));
        QVERIFY(!storedRow(clip.hash(), Category::favourite).isExist());
        QVERIFY(storedRow(clip.hash(), Category::history).favourite.value_or(0) < 0);
    }

    // Deleting removes both rows and the file; the menu is rebuilt from the change notice.
    void deleteRemovesBothCategoriesAndFiles()
    {
        HistoryModel clip = image(encodedImage("PNG"), 10);
        HistoryModel favourite = clip;
        favourite.category = Category::favourite;
        favourite.save();
        text(u"stays"_s, 5);
        m_menus.actions().deleteClip(clip);
        QVERIFY(!DBKeeper::historyExist(clip.hash()));
        QVERIFY(!storedRow(clip.hash(), Category::favourite).isExist());
        QVERIFY(!QFile::exists(PathHelper::getBaseFilePath(clip.hash())));
        QTRY_COMPARE(texts(m_menus.mainMenu()).at(1), u"stays\t1"_s);
    }

    // An image is saved as JPEG (from TIFF) and a file is copied; a second copy fails and
    // posts nothing; a name from another device that climbs out of the folder is cut to its
    // last part.
    void saveToDownloads()
    {
        const auto saved = [this](const QString &name) {
            return TestFiles::read(m_downloads.filePath(u"a/b/"_s + name));
        };
        m_menus.actions().save(image(encodedImage("TIFF"), 10));
        const QString jpeg =
            u"图片 "_s + QDateTime::fromSecsSinceEpoch(10).toString(u"yyyy-MM-dd HH.mm.ss"_s) + u".jpg"_s;
        QVERIFY(saved(jpeg).startsWith(QByteArray("\xFF\xD8\xFF", 3)));

        HistoryModel clip = file(u"plan.txt"_s, "the plan", 12);
        m_menus.actions().save(clip);
        m_menus.actions().save(clip);
        QCOMPARE(saved(u"plan.txt"_s), QByteArray("the plan"));
        QCOMPARE(m_notices.size(), 2);

        HistoryModel remote = file(u"escape.txt"_s, "remote", 13);
        remote.file_name = u"../../escape.txt"_s;
        m_menus.actions().save(remote);
        QCOMPARE(saved(u"escape.txt"_s), QByteArray("remote"));
        QVERIFY(!QFile::exists(m_downloads.filePath(u"escape.txt"_s)));
    }

    // Sharing hands over the full text.
    void sharingHandsTheFullText()
    {
        m_menus.actions().shareClicked({u"mail"_s, {}, {}}, text(u"share this text"_s, 10));
        QCOMPARE(m_sharing.performed().last().second.text, u"share this text"_s);
    }

    // Each entry starts its own program (a path with a space quoted); removing one program
    // removes all its entries and no other's.
    void loginItemsAddTwiceRemoveBoth()
    {
        const QString program = makeProgram(m_home.filePath(u"my programs/quillet"_s));
        const QString other = makeProgram(m_home.filePath(u"other"_s));
        NMLoginItems::addPathToLoginItems(program, false);
        NMLoginItems::addPathToLoginItems(program, true);
        NMLoginItems::addPathToLoginItems(other, false);
        const QByteArray entry =
            TestFiles::read(QDir(NMLoginItems::autostartFolder()).filePath(u"quillet-2.desktop"_s));
        QVERIFY(entry.contains(QByteArray("Exec=\"" + QFile::encodeName(program) + "\"\n")));
        NMLoginItems::removePathFromLoginItems(program);
        QVERIFY(!NMLoginItems::pathInLoginItems(program));
        QCOMPARE(QDir(NMLoginItems::autostartFolder()).entryList({u"*.desktop"_s}).size(), 1);
        QVERIFY(NMLoginItems::pathInLoginItems(other));
    }

    // A file's entry is added; a list that cannot be read is left as it is.
    void recentlyUsedListKeepsItsEntries()
    {
        const QString list = m_home.filePath(u"recent/recently-used.xbel"_s);
        const QString jpg = m_home.filePath(u"c d.jpg"_s);
        QVERIFY(RecentlyUsed::addFile(jpg, list));
        QVERIFY(
            TestFiles::read(list).contains(QUrl::fromLocalFile(jpg).toString(QUrl::FullyEncoded).toUtf8()));

        const QString broken = m_home.filePath(u"broken.xbel"_s);
        QVERIFY(TestFiles::write(broken, "<xbel><bookmark"));
        QVERIFY(!RecentlyUsed::addFile(jpg, broken));
        QCOMPARE(TestFiles::read(broken), QByteArray("<xbel><bookmark"));
    }

    // One instance per data folder; a socket file left by an instance that crashed is taken over.
    void onlyOneInstancePerDataFolder()
    {
        const QString folder = m_home.filePath(u"instance"_s);
        auto first = std::make_unique<SingleInstance>(folder);
        QVERIFY(first->tryAcquire());
        SingleInstance second(folder);
        QVERIFY(!second.tryAcquire());
        first.reset();
        QVERIFY(second.tryAcquire());

        SingleInstance crashed(m_home.filePath(u"stale"_s));
        QVERIFY(TestFiles::write(crashed.socketPath(), {}));
        QVERIFY(crashed.tryAcquire());
    }
};

QTEST_MAIN(TestMenu)
#include "tst_menu.moc"
