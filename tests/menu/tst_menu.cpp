// The status menu over a real history database and data folder: its structure, titles, keys,
// submenus, rebuilds, and the actions of its items.
#include "ClipFixtures.h"
#include "RecordingPasteboard.h"
#include "TestDirs.h"
#include "TestFiles.h"
#include "TestSync.h"

#include "menu/ClipMenu.h"
#include "menu/MenuController.h"
#include "menu/StatusBarController.h"
#include "platform/MemoryKeyInjector.h"
#include "platform/MemorySharingServices.h"
#include "store/ClipUserDefaults.h"
#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/PathHelper.h"
#include "store/SettingsKeys.h"
#include "store/SyncFailures.h"
#include "support/MainQueue.h"
#include "sync/ProgressManager.h"
#include "ui/InterfaceLanguage.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace ClipFixtures;
using namespace Qt::StringLiterals;

namespace {

QStringList texts(const QMenu *menu)
{
    QStringList result;
    const QList<QAction *> actions = menu->actions();
    for (const QAction *action : actions)
        result << (action->isSeparator() ? u"---"_s : action->text());
    return result;
}

QAction *itemTitled(const QMenu *menu, const QString &text)
{
    const QList<QAction *> actions = menu->actions();
    for (QAction *action : actions) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
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
    QTemporaryDir m_downloads;
    RecordingPasteboard m_pasteboard;
    MemoryKeyInjector m_injector;
    MemorySharingServices m_sharing{{{u"mail"_s, u"邮件"_s, QIcon()}}};
    QStringList m_notices;

    MenuController m_menus{testSync()};
    MenuController &menus() { return m_menus; }

private Q_SLOTS:
    void initTestCase()
    {
        // The titles this test checks are the Chinese ones.
        QVERIFY(InterfaceLanguage::apply(Settings::Language::Chinese));
        menus().actions().setPlatform({&m_pasteboard, &m_injector, &m_sharing});
        menus().actions().setDownloadsFolder(m_downloads.path());
        menus().actions().setDownloadNotice([this](const QString &path) { m_notices << path; });
    }

    void init()
    {
        testFiles().deleteFilesWithHashArray(DBKeeper::removeAllData());
        ClipUserDefaults::remove(QLatin1String(SettingsKeys::newversion));
        menus().actions().setPluginSource({});
        m_notices.clear();
    }

    // The commands' items act; signed in, the sync items show; the settings item names a
    // newer version on offer, and only a newer one.
    void commandItemsFollowTheAccountAndTheVersion()
    {
        menus().buildMenu();
        QVERIFY(!menus().mainMenu()->actions().first()->isEnabled());
        QCOMPARE(itemTitled(menus().mainMenu(), u"收藏"_s)->menu(), menus().favMenu());
        int historyOpened = 0;
        menus().actions().setHistoryWindow([&historyOpened] { ++historyOpened; });
        itemTitled(menus().mainMenu(), u"全部历史…"_s)->trigger();
        QCOMPARE(historyOpened, 1);
        menus().actions().setHistoryWindow({});
        // The sign-in command opens nothing while there is no settings window, and survives.
        itemTitled(menus().mainMenu(), u"登录/注册"_s)->trigger();

        testAccount().setLoginUserToken(u"token"_s);
        menus().buildMenu();
        QVERIFY(itemTitled(menus().mainMenu(), u"同步历史记录"_s));
        QVERIFY(itemTitled(menus().favMenu(), u"同步收藏"_s));
        testAccount().setLoginUserToken(std::nullopt);

        ClipUserDefaults::setValue(QLatin1String(SettingsKeys::newversion), u"99.1"_s);
        menus().buildMenu();
        QVERIFY(itemTitled(menus().mainMenu(), u"设置 (!新版本 99.1)"_s));
        ClipUserDefaults::setValue(QLatin1String(SettingsKeys::newversion), u"0.0.1"_s);
        menus().buildMenu();
        QVERIFY(itemTitled(menus().mainMenu(), u"设置"_s));
    }

    // The tray item's spinner turns while any transfer is short of complete, and stops at
    // exactly 1.0: the last byte of a payload at the size limit still counts as busy.
    void busyIndicatorStopsOnlyWhenTransfersAreComplete()
    {
        StatusBarController tray{menus(), testSync().progress()};
        QSignalSpy changes(&tray, &StatusBarController::loadingChanged);
        constexpr qint64 total = 5767168;
        for (const qint64 completed : {qint64(0), total / 2, total - 1}) {
            testSync().progress().progress(completed, total, {});
            bool handled = false;
            dispatchMain([&handled] { handled = true; });
            QTRY_VERIFY(handled);
            QVERIFY(tray.isLoading());
        }
        testSync().progress().progress(total, total, {});
        QTRY_VERIFY(!tray.isLoading());
        QCOMPARE(changes.size(), 2);
    }

    void clipTitlesKeysAndMarkers()
    {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        text(u"  twenty-five units long  "_s, now - 1); // 26 with the spaces
        text(u" exactly twenty-five unit"_s, now - 2);
        text(u"pass & word"_s, now - 3).signSecret(true);
        HistoryModel bigImage = imageOfSize(Qt::red, now - 4, 6000000);
        imageOfSize(Qt::blue, now - 5, 5767168).signSecret(true);
        file(u"report.txt"_s, "report", now - 6).signSecret(true);
        HistoryModel unknown = text(u"from a newer client"_s, now - 7);
        unknown.type = u"video_mp4"_s;
        unknown.save();

        menus().buildMenu();
        QCOMPARE(texts(menus().mainMenu()).mid(1, 7),
                 (QStringList{u"twenty-five units …\t1"_s, u"exactly twenty-five unit\t2"_s,
                              u"[*机密*] pass && word\t3"_s, u"<图片>(大于5M，无法上传)\t4"_s,
                              u"[*机密*] <图片>\t5"_s, u"[*机密*] [文件] report.txt\t6"_s,
                              u"未知类型，请更新客户端"_s}));
        const QList<QAction *> items = menus().mainMenu()->actions();
        QVERIFY(!items[3]->icon().isNull()); // "important"
        QVERIFY(!items[4]->icon().isNull()); // the thumbnail
        QVERIFY(items[1]->icon().isNull());
        QCOMPARE(items[1]->toolTip(), u"  twenty-five units long  "_s);
        QVERIFY(items[4]->toolTip() != bigImage.content.value()); // images carry no tooltip of their own
        QVERIFY(!items[7]->isEnabled());
        QVERIFY(!items[7]->menu());
        QVERIFY(items[1]->menu() && items[1]->menu()->isEmpty()); // filled when first shown
    }

    // While signed in, a clip still to go to the service carries a mark in its line, and one
    // whose transfer failed for good another, with "重试" in its submenu; signed out, neither.
    void syncMarksWhileSignedIn()
    {
        // The lanes that "重试" starts find no service here.
        qputenv("QUILLET_API_URL", "http://127.0.0.1:9/api");
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const HistoryModel sent = text(u"on the service"_s, now - 1);
        QVERIFY(DBKeeper::updateHistoryID(5, 6, sent.hash()));
        DBKeeper::setRemoteFileReady(1, sent.hash());
        text(u"not sent yet"_s, now - 2);
        const HistoryModel failed = text(u"failed for good"_s, now - 3);
        QVERIFY(DBKeeper::updateHistoryID(7, 8, failed.hash()));
        QVERIFY(SyncFailures::recordFailure(SyncFailures::Lane::File, failed.hash(), true));
        text(u"a secret"_s, now - 4).signSecret(true);

        menus().buildMenu();
        const QStringList signedOut = texts(menus().mainMenu()).mid(1, 4);
        QVERIFY(!texts(openedSubMenu(menus().mainMenu()->actions().at(3))).contains(u"重试"_s));

        testAccount().setLoginUserToken(u"token"_s);
        menus().buildMenu();
        const QStringList signedIn = texts(menus().mainMenu()).mid(1, 4);
        // What the line says beyond the clip's title, its key left out.
        const auto markOf = [&signedOut](const QString &line, int row) {
            return line.section(u'\t', 0, 0).remove(signedOut.at(row).section(u'\t', 0, 0));
        };
        QCOMPARE(signedIn.at(0), signedOut.at(0));
        QCOMPARE(signedIn.at(3), signedOut.at(3));
        const QString waitingMark = markOf(signedIn.at(1), 1);
        const QString failedMark = markOf(signedIn.at(2), 2);
        QVERIFY(!waitingMark.isEmpty() && !failedMark.isEmpty() && waitingMark != failedMark);
        QVERIFY(!texts(openedSubMenu(menus().mainMenu()->actions().at(2))).contains(u"重试"_s));

        // "重试" forgets the failure; the line then only says that the clip is still to go.
        QAction *retry = itemTitled(openedSubMenu(menus().mainMenu()->actions().at(3)), u"重试"_s);
        QVERIFY(retry);
        retry->trigger();
        QVERIFY(!SyncFailures::failedForGood().contains(failed.hash()));
        menus().buildMenu();
        QCOMPARE(markOf(texts(menus().mainMenu()).at(3), 2), waitingMark);
        testAccount().setLoginUserToken(std::nullopt);
    }

    // The tray item's tooltip tells the states apart, says since when the service could not be
    // reached (or was full), and how many clips failed for good.
    void trayToolTipFollowsSync()
    {
        const QDateTime now = QDateTime::currentDateTime();
        SyncStatus::Snapshot status;
        QStringList tips{StatusBarController::syncToolTip(status, now)};
        for (const SyncStatus::State state : {SyncStatus::State::InSync, SyncStatus::State::Sending,
                                              SyncStatus::State::Unreachable, SyncStatus::State::QuotaFull}) {
            status.state = state;
            status.since = now.addSecs(-90 * 60);
            tips << StatusBarController::syncToolTip(status, now);
        }
        QCOMPARE(QSet<QString>(tips.begin(), tips.end()).size(), tips.size());
        const QString since = now.addSecs(-90 * 60).toString(u"HH:mm"_s);
        QVERIFY(tips.at(3).contains(since) && tips.at(4).contains(since));
        // An older time names its day.
        status.state = SyncStatus::State::Unreachable;
        status.since = now.addDays(-2);
        QVERIFY(StatusBarController::syncToolTip(status, now)
                    .contains(QString::number(now.addDays(-2).date().day())));
        status.failed = 3;
        QVERIFY(StatusBarController::syncToolTip(status, now).contains(u"3"_s));
    }

    void keysFollowPositionsUpToThirty()
    {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        for (int i = 0; i < 35; ++i)
            text(u"clip %1"_s.arg(i), now - i);
        menus().buildMenu();
        const QList<QAction *> items = menus().mainMenu()->actions();
        QCOMPARE(items.size(), 1 + 30 + 1 + 1 + 1 + 1 + 4);
        QCOMPARE(items[11]->text(), u"clip 10\tq"_s);
        QCOMPARE(items[30]->text(), u"clip 29\t;"_s);

        // A key with Control chooses the clip while the menu is open, and pastes it.
        auto *menu = static_cast<ClipMenu *>(menus().mainMenu());
        QCOMPARE(menu->actionForKey(u"q"_s), items[11]);
        const int pastes = m_injector.pasteCount();
        menu->popup(QPoint(0, 0));
        QTest::keyClick(menu, Qt::Key_Q, Qt::ControlModifier);
        QTRY_COMPARE(m_injector.pasteCount(), pastes + 1);
        QCOMPARE(m_pasteboard.string().value_or(QString()), u"clip 10"_s);
        QVERIFY(!menu->isVisible());
    }

    void actionSubmenusByFamily()
    {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        text(u"secret"_s, now).signSecret(true);
        image(encodedImage("PNG"), now - 1);
        menus().buildMenu();
        const QList<QAction *> items = menus().mainMenu()->actions();

        QCOMPARE(texts(openedSubMenu(items[1])),
                 (QStringList{u"插件列表"_s, u"---"_s, u"收藏"_s, u"---"_s, u"分享"_s, u"---"_s,
                              u"解除机密"_s, u"---"_s, u"删除"_s}));
        QCOMPARE(texts(openedSubMenu(items[2])), (QStringList{u"保存到下载文件夹"_s, u"---"_s, u"收藏"_s,
                                                              u"---"_s, u"分享"_s, u"---"_s, u"删除"_s}));
        QCOMPARE(texts(itemTitled(items[2]->menu(), u"分享"_s)->menu()), QStringList{u"邮件"_s});

        // Plugins come sorted by name, before the title item.
        menus().actions().setPluginSource(
            {[] {
                 return QList<MenuPlugin>{{u"b.id"_s, u"Beta"_s, u"second"_s},
                                          {u"a.id"_s, u"Alpha"_s, u"first"_s}};
             },
             [](const MenuPlugin &, const QString &, QObject *, MenuPluginSource::Completion complete) {
                 complete(std::nullopt);
             }});
        menus().buildMenu();
        QMenu *textActions = openedSubMenu(menus().mainMenu()->actions().at(1));
        QCOMPARE(texts(textActions).mid(0, 3), (QStringList{u"Alpha"_s, u"Beta"_s, u"插件列表"_s}));
        QCOMPARE(textActions->actions().first()->toolTip(), u"first"_s);

        // A plugin without a result leaves the clipboard empty; the keystroke is posted anyway.
        const int pastes = m_injector.pasteCount();
        textActions->actions().first()->trigger();
        QTRY_COMPARE(m_injector.pasteCount(), pastes + 1);
        QCOMPARE(m_pasteboard.string().value_or(u"unset"_s), QString());
    }

    void pastingWritesTheFullContent()
    {
        const QString longText = u"a long text whose title is only an abstract of it, line one\nline two"_s;
        HistoryModel clip = text(longText, 10);
        HistoryModel favourite = ClipFixtures::image(encodedImage("TIFF"), 11);
        favourite.category = Category::favourite;
        favourite.favourite = 11;
        favourite.save();
        DBKeeper::deleteClipItem(favourite.hash(), Category::history);

        const int pastes = m_injector.pasteCount();
        menus().actions().clickItem(clip);
        QCOMPARE(m_pasteboard.string().value_or(QString()), longText);
        menus().actions().clickItem(favourite);
        QCOMPARE(m_pasteboard.tiffData(), testFiles().getDataWithMd5(favourite.hash()).value());
        QTRY_COMPARE(m_injector.pasteCount(), pastes + 2);
        // The favourite without a history row got one, with its mark.
        QCOMPARE(storedRow(favourite.hash(), Category::history).favourite.value_or(0), qint64(11));

        HistoryModel fileClip = file(u"notes.txt"_s, "notes", 12);
        menus().actions().clickItem(fileClip);
        QCOMPARE(QFileInfo(m_pasteboard.firstFilePath().value_or(QString())).fileName(), u"notes.txt"_s);
        QFile::remove(PathHelper::getBaseFilePath(clip.hash()));
        menus().actions().clickItem(clip);
        QCOMPARE(m_pasteboard.string().value_or(u"unset"_s), QString());
    }

    void favouriteAndUnfavouriteWhileSignedOut()
    {
        HistoryModel clip = text(u"keep me"_s, 10);
        menus().actions().favourite(clip);
        const HistoryModel favouriteRow = storedRow(clip.hash(), Category::favourite);
        QVERIFY(favouriteRow.isExist());
        QVERIFY(favouriteRow.favourite.value() > 0);
        QVERIFY(favouriteRow.change_timestamp.value() > 0);
        QCOMPARE(storedRow(clip.hash(), Category::history).favourite.value_or(0),
                 favouriteRow.favourite.value_or(-1));

        menus().buildMenu();
        QCOMPARE(texts(menus().favMenu()).mid(0, 2), (QStringList{u"收藏 (1个)"_s, u"keep me\t1"_s}));
        QVERIFY(texts(openedSubMenu(menus().mainMenu()->actions().at(1))).contains(u"取消收藏"_s));
        QVERIFY(texts(openedSubMenu(menus().favMenu()->actions().at(1))).contains(u"取消收藏"_s));

        menus().actions().favourite(storedRow(clip.hash(), Category::history));
        QVERIFY(!storedRow(clip.hash(), Category::favourite).isExist());
        QVERIFY(storedRow(clip.hash(), Category::history).favourite.value() < 0);
        menus().buildMenu();
        QCOMPARE(texts(menus().favMenu()).first(), u"收藏 (0个)"_s);
        QVERIFY(texts(openedSubMenu(menus().mainMenu()->actions().at(1))).contains(u"收藏"_s));
    }

    // The menu is rebuilt from the data-changed notice the action posts.
    void deleteRemovesBothCategoriesAndFiles()
    {
        HistoryModel clip = image(encodedImage("PNG"), 10);
        HistoryModel favourite = clip;
        favourite.category = Category::favourite;
        favourite.save();
        text(u"stays"_s, 5);
        menus().actions().deleteClip(clip);
        QVERIFY(!DBKeeper::historyExist(clip.hash()));
        QVERIFY(!QFile::exists(PathHelper::getBaseFilePath(clip.hash())));
        QTRY_COMPARE(texts(menus().mainMenu()).at(1), u"stays\t1"_s);
        QCOMPARE(texts(menus().favMenu()).first(), u"收藏 (0个)"_s);
    }

    void saveWritesJpegForTiffKeepsPngAndCopiesFiles()
    {
        const auto saved = [this](const QString &name) {
            return TestFiles::read(m_downloads.filePath(name));
        };
        const auto name = [](qint64 time, const char *extension) -> QString {
            return u"图片 "_s + QDateTime::fromSecsSinceEpoch(time).toString(u"yyyy-MM-dd HH.mm.ss"_s)
                   + QLatin1Char('.') + QLatin1String(extension);
        };
        HistoryModel tiff = image(encodedImage("TIFF"), 10);
        menus().actions().save(tiff);
        QVERIFY(saved(name(10, "jpg")).startsWith(QByteArray("\xFF\xD8\xFF", 3)));
        const QByteArray pngBytes = encodedImage("PNG", Qt::green);
        HistoryModel png = image(pngBytes, 11);
        menus().actions().save(png);
        QCOMPARE(saved(name(11, "png")), pngBytes);
        QCOMPARE(m_notices,
                 (QStringList{m_downloads.filePath(name(10, "jpg")), m_downloads.filePath(name(11, "png"))}));

        HistoryModel clip = file(u"plan.txt"_s, "the plan", 12);
        menus().actions().save(clip);
        QCOMPARE(saved(u"plan.txt"_s), QByteArray("the plan"));
        menus().actions().save(clip); // the second copy fails and posts nothing
        QCOMPARE(m_notices.size(), 3);

        // A name from another device that climbs out of the folder is cut to its last part.
        HistoryModel remote = file(u"escape.txt"_s, "remote", 13);
        remote.file_name = u"../../escape.txt"_s;
        menus().actions().save(remote);
        QCOMPARE(saved(u"escape.txt"_s), QByteArray("remote"));
        QVERIFY(!QFile::exists(QDir(m_downloads.path()).absoluteFilePath(u"../../escape.txt"_s)));
    }

    void unlockClearsTheSecretMark()
    {
        const HistoryModel clip = text(u"was secret"_s, 10);
        clip.signSecret(true);
        menus().actions().unlockSecret(storedRow(clip.hash(), Category::history));
        QVERIFY(!storedRow(clip.hash(), Category::history).isSecret());
        QTRY_COMPARE(texts(menus().mainMenu()).at(1), u"was secret\t1"_s);
    }

    void sharingHandsTheFullText()
    {
        HistoryModel clip = text(u"share this text"_s, 10);
        menus().actions().shareClicked({u"mail"_s, {}, {}}, clip);
        QCOMPARE(m_sharing.performed().last().second.text, u"share this text"_s);
        QFile::remove(PathHelper::getBaseFilePath(clip.hash()));
        QCOMPARE(texts(menus().share(clip)), QStringList{u"内容已不在本机，无法分享"_s});
    }
};

QTEST_MAIN(TestMenu)
#include "tst_menu.moc"
