// The status menu over a real history database and data folder: its structure, titles, keys,
// submenus, rebuilds, and the actions of its items.
#include "ClipFixtures.h"
#include "RecordingPasteboard.h"
#include "TestDirs.h"

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
#include "support/NotificationCenter.h"
#include "support/Notifications.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

using namespace ClipFixtures;

namespace {

QStringList texts(const QMenu *menu)
{
    QStringList result;
    const QList<QAction *> actions = menu->actions();
    for (const QAction *action : actions)
        result << (action->isSeparator() ? QStringLiteral("---") : action->text());
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

} // namespace

class TestMenu final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    QTemporaryDir m_downloads;
    RecordingPasteboard m_pasteboard;
    MemoryKeyInjector m_injector;
    MemorySharingServices m_sharing{{{QStringLiteral("mail"), QStringLiteral("邮件"), QIcon()}}};
    QStringList m_notices;

    MenuController &menus() { return MenuController::sharedInstance(); }

private Q_SLOTS:
    void initTestCase()
    {
        menus().setPlatform({&m_pasteboard, &m_injector, &m_sharing});
        menus().setDownloadsFolder(m_downloads.path());
        menus().setDownloadNotice([this](const QString &path) { m_notices << path; });
    }

    void init()
    {
        ClipFileManager::sharedInstance().deleteFilesWithHashArray(DBKeeper::removeAllData());
        ClipUserDefaults::remove(QLatin1String(SettingsKeys::newversion));
        menus().setPluginSource({});
        m_notices.clear();
    }

    void emptyHistoryShape()
    {
        menus().buildMenu();
        QCOMPARE(texts(menus().mainMenu()), (QStringList{QStringLiteral("历史纪录"), QStringLiteral("---"),
                                                       QStringLiteral("收藏"), QStringLiteral("---"),
                                                       QStringLiteral("登录/注册"), QStringLiteral("插件"),
                                                       QStringLiteral("设置"), QStringLiteral("退出")}));
        QCOMPARE(texts(menus().favMenu()), (QStringList{QStringLiteral("收藏 (0个)"), QStringLiteral("---")}));
        QVERIFY(!menus().mainMenu()->actions().first()->isEnabled());
        QCOMPARE(itemTitled(menus().mainMenu(), QStringLiteral("收藏"))->menu(), menus().favMenu());
        for (const char *command : {"登录/注册", "插件", "设置", "退出"})
            QVERIFY(!itemTitled(menus().mainMenu(), QString::fromUtf8(command))->icon().isNull());

        // The sign-in command opens nothing while there is no settings window, and survives.
        itemTitled(menus().mainMenu(), QStringLiteral("登录/注册"))->trigger();

        ConfigureManager::sharedInstance().setLoginUserToken(QStringLiteral("token"));
        menus().buildMenu();
        QCOMPARE(texts(menus().mainMenu()).at(4), QStringLiteral("同步历史记录"));
        QCOMPARE(texts(menus().favMenu()),
                 (QStringList{QStringLiteral("收藏 (0个)"), QStringLiteral("---"), QStringLiteral("同步收藏")}));
        ConfigureManager::sharedInstance().setLoginUserToken(std::nullopt);
    }

    void clipTitlesKeysAndMarkers()
    {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        text(QStringLiteral("  twenty-five units long  "), now - 1); // 26 with the spaces
        text(QStringLiteral(" exactly twenty-five unit"), now - 2);
        HistoryModel secretText = text(QStringLiteral("pass & word"), now - 3);
        secretText.signSecert(true);
        HistoryModel bigImage = image(encodedImage("PNG"), now - 4);
        bigImage.file_size = 6000000;
        bigImage.save();
        HistoryModel limitImage = image(encodedImage("PNG", Qt::blue), now - 5);
        limitImage.file_size = 5767168;
        limitImage.save();
        limitImage.signSecert(true);
        HistoryModel secretFile = file(QStringLiteral("report.txt"), "report", now - 6);
        secretFile.signSecert(true);
        HistoryModel unknown = text(QStringLiteral("from a newer client"), now - 7);
        unknown.type = QStringLiteral("video_mp4");
        unknown.save();

        menus().buildMenu();
        const QStringList shown = texts(menus().mainMenu()).mid(1, 7);
        QCOMPARE(shown, (QStringList{QStringLiteral("twenty-five units …\t1"),
                                     QStringLiteral("exactly twenty-five unit\t2"),
                                     QStringLiteral("[*机密*] pass && word\t3"),
                                     QStringLiteral("<图片>(大于5M，无法上传)\t4"),
                                     QStringLiteral("<图片>\t5"),
                                     QStringLiteral("[文件] report.txt\t6"),
                                     QStringLiteral("未知类型，请更新客户端")}));
        const QList<QAction *> items = menus().mainMenu()->actions();
        QVERIFY(!items[3]->icon().isNull());                       // "important"
        QVERIFY(!items[4]->icon().isNull());                       // the thumbnail
        QVERIFY(items[1]->icon().isNull());
        QCOMPARE(items[1]->toolTip(), QStringLiteral("  twenty-five units long  ").left(30));
        QVERIFY(items[4]->toolTip() != bigImage.content.value()); // images carry no tooltip of their own
        QVERIFY(!items[7]->isEnabled());
        QVERIFY(!items[7]->menu());
        QVERIFY(items[1]->menu() && items[1]->menu()->isEmpty()); // filled when first shown
    }

    void keysFollowPositionsUpToThirty()
    {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        for (int i = 0; i < 35; ++i)
            text(QStringLiteral("clip %1").arg(i), now - i);
        menus().buildMenu();
        const QList<QAction *> items = menus().mainMenu()->actions();
        QCOMPARE(items.size(), 1 + 30 + 1 + 1 + 1 + 4);
        QCOMPARE(items[11]->text(), QStringLiteral("clip 10\tq"));
        QCOMPARE(items[30]->text(), QStringLiteral("clip 29\t;"));

        // A key with Control chooses the clip while the menu is open, and pastes it.
        auto *menu = static_cast<ClipMenu *>(menus().mainMenu());
        QCOMPARE(menu->actionForKey(QStringLiteral("q")), items[11]);
        const int pastes = m_injector.pasteCount();
        menu->popup(QPoint(0, 0));
        QTest::keyClick(menu, Qt::Key_Q, Qt::ControlModifier);
        QTRY_COMPARE(m_injector.pasteCount(), pastes + 1);
        QCOMPARE(m_pasteboard.string().value_or(QString()), QStringLiteral("clip 10"));
        QVERIFY(!menu->isVisible());
    }

    void settingsItemShowsTheOfferedVersion()
    {
        ClipUserDefaults::setValue(QLatin1String(SettingsKeys::newversion), QStringLiteral("99.1"));
        menus().buildMenu();
        QVERIFY(itemTitled(menus().mainMenu(), QStringLiteral("设置 (!新版本 99.1)")));
        ClipUserDefaults::setValue(QLatin1String(SettingsKeys::newversion), QStringLiteral("0.0.1"));
        menus().buildMenu();
        QVERIFY(itemTitled(menus().mainMenu(), QStringLiteral("设置")));
    }

    void actionSubmenusByFamily()
    {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        HistoryModel secret = text(QStringLiteral("secret"), now);
        secret.signSecert(true);
        image(encodedImage("PNG"), now - 1);
        menus().buildMenu();
        QList<QAction *> items = menus().mainMenu()->actions();

        QCOMPARE(texts(openedSubMenu(items[1])),
                 (QStringList{QStringLiteral("插件列表"), QStringLiteral("---"), QStringLiteral("收藏"), QStringLiteral("---"),
                              QStringLiteral("分享"), QStringLiteral("---"), QStringLiteral("解除机密"), QStringLiteral("---"),
                              QStringLiteral("删除")}));
        QCOMPARE(texts(openedSubMenu(items[2])),
                 (QStringList{QStringLiteral("保存到下载文件夹"), QStringLiteral("---"), QStringLiteral("收藏"),
                              QStringLiteral("---"), QStringLiteral("分享"), QStringLiteral("---"), QStringLiteral("删除")}));
        QCOMPARE(texts(itemTitled(items[2]->menu(), QStringLiteral("分享"))->menu()), QStringList{QStringLiteral("邮件")});

        // Plugins come sorted by name, before the title item.
        menus().setPluginSource({[] {
                                     return QList<MenuPlugin>{{QStringLiteral("b.id"), QStringLiteral("Beta"), QStringLiteral("second")},
                                                              {QStringLiteral("a.id"), QStringLiteral("Alpha"), QStringLiteral("first")}};
                                 },
                                 [](const MenuPlugin &, const QString &) { return std::optional<QString>(QString()); }});
        menus().buildMenu();
        items = menus().mainMenu()->actions();
        QMenu *textActions = openedSubMenu(items[1]);
        QCOMPARE(texts(textActions).mid(0, 3), (QStringList{QStringLiteral("Alpha"), QStringLiteral("Beta"), QStringLiteral("插件列表")}));
        QCOMPARE(textActions->actions().first()->toolTip(), QStringLiteral("first"));

        // A plugin without a result leaves the clipboard empty; the keystroke is posted anyway.
        const int pastes = m_injector.pasteCount();
        textActions->actions().first()->trigger();
        QTRY_COMPARE(m_injector.pasteCount(), pastes + 1);
        QCOMPARE(m_pasteboard.string().value_or(QStringLiteral("unset")), QString());

        HistoryModel unknown;
        unknown.type = QStringLiteral("video");
        QVERIFY(!menus().subMenu(unknown));
    }

    void dataChangedRebuildsTheMenu()
    {
        menus().buildMenu();
        text(QStringLiteral("arrived"), 5);
        NotificationCenter::sharedInstance().post(QLatin1String(Notifications::DATA_CHANGED));
        QTRY_COMPARE(menus().mainMenu()->actions().at(1)->text(), QStringLiteral("arrived\t1"));
    }

    void pastingWritesTheFullContent()
    {
        const QString longText = QStringLiteral("a long text whose title is only an abstract of it, line one\nline two");
        HistoryModel clip = text(longText, 10);
        HistoryModel favourite = ClipFixtures::image(encodedImage("TIFF"), 11);
        favourite.category = Category::favourite;
        favourite.favourite = 11;
        favourite.save();
        DBKeeper::deleteClipItem(favourite.hash(), Category::history);

        const int pastes = m_injector.pasteCount();
        menus().clickIteam(clip);
        QCOMPARE(m_pasteboard.string().value_or(QString()), longText);
        menus().clickIteam(favourite);
        QCOMPARE(m_pasteboard.tiff(), ClipFileManager::sharedInstance().getDataWithMd5(favourite.hash()).value());
        QTRY_COMPARE(m_injector.pasteCount(), pastes + 2);
        // The favourite without a history row got one, with its mark.
        QCOMPARE(storedRow(favourite.hash(), Category::history).favourite.value_or(0), qint64(11));

        HistoryModel fileClip = file(QStringLiteral("notes.txt"), "notes", 12);
        menus().clickIteam(fileClip);
        QCOMPARE(QFileInfo(m_pasteboard.file()).fileName(), QStringLiteral("notes.txt"));
        QFile::remove(PathHelper::getBaseFilePath(clip.hash()));
        menus().clickIteam(clip);
        QCOMPARE(m_pasteboard.string().value_or(QStringLiteral("unset")), QString());
    }

    void favouriteAndUnfavouriteWhileSignedOut()
    {
        HistoryModel clip = text(QStringLiteral("keep me"), 10);
        menus().favourite(clip);
        const HistoryModel favouriteRow = storedRow(clip.hash(), Category::favourite);
        QVERIFY(favouriteRow.isExist());
        QVERIFY(favouriteRow.favourite.value() > 0);
        QVERIFY(favouriteRow.change_timestamp.value() > 0);
        QCOMPARE(storedRow(clip.hash(), Category::history).favourite.value_or(0), favouriteRow.favourite.value_or(-1));

        menus().buildMenu();
        QCOMPARE(texts(menus().favMenu()).mid(0, 2), (QStringList{QStringLiteral("收藏 (1个)"), QStringLiteral("keep me\t1")}));
        QVERIFY(texts(openedSubMenu(menus().mainMenu()->actions().at(1))).contains(QStringLiteral("取消收藏")));
        QVERIFY(texts(openedSubMenu(menus().favMenu()->actions().at(1))).contains(QStringLiteral("取消收藏")));

        menus().favourite(storedRow(clip.hash(), Category::history));
        QVERIFY(!storedRow(clip.hash(), Category::favourite).isExist());
        QVERIFY(storedRow(clip.hash(), Category::history).favourite.value() < 0);
        menus().buildMenu();
        QCOMPARE(texts(menus().favMenu()).first(), QStringLiteral("收藏 (0个)"));
        QVERIFY(texts(openedSubMenu(menus().mainMenu()->actions().at(1))).contains(QStringLiteral("收藏")));
    }

    void deleteRemovesBothCategoriesAndFiles()
    {
        HistoryModel clip = image(encodedImage("PNG"), 10);
        HistoryModel favourite = clip;
        favourite.category = Category::favourite;
        favourite.save();
        text(QStringLiteral("stays"), 5);
        menus().deleteClip(clip);
        QVERIFY(!DBKeeper::historyExist(clip.hash()));
        QVERIFY(!QFile::exists(PathHelper::getBaseFilePath(clip.hash())));
        QTRY_COMPARE(texts(menus().mainMenu()).at(1), QStringLiteral("stays\t1"));
        QCOMPARE(texts(menus().favMenu()).first(), QStringLiteral("收藏 (0个)"));
    }

    void saveWritesJpegForTiffAndKeepsPng()
    {
        HistoryModel tiff = image(encodedImage("TIFF"), 10);
        menus().save(tiff);
        const QString jpegPath = m_downloads.filePath(tiff.hash() + QStringLiteral(".jpg"));
        QFile jpeg(jpegPath);
        QVERIFY(jpeg.open(QIODevice::ReadOnly));
        QVERIFY(jpeg.read(3) == QByteArray("\xFF\xD8\xFF", 3));

        const QByteArray pngBytes = encodedImage("PNG", Qt::green);
        HistoryModel png = image(pngBytes, 11);
        menus().save(png);
        QFile saved(m_downloads.filePath(png.hash() + QStringLiteral(".png")));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), pngBytes);
        QCOMPARE(m_notices, (QStringList{jpegPath, saved.fileName()}));
    }

    void saveCopiesFilesWithoutReplacingOrEscaping()
    {
        HistoryModel clip = file(QStringLiteral("plan.txt"), "the plan", 10);
        menus().save(clip);
        QFile copy(m_downloads.filePath(QStringLiteral("plan.txt")));
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), QByteArray("the plan"));
        menus().save(clip); // the second copy fails and posts nothing
        QCOMPARE(m_notices.size(), 1);

        // A name from another device that climbs out of the folder is cut to its last part.
        HistoryModel remote = file(QStringLiteral("escape.txt"), "remote", 11);
        remote.file_name = QStringLiteral("../../escape.txt");
        menus().save(remote);
        QVERIFY(QFile::exists(m_downloads.filePath(QStringLiteral("escape.txt"))));
        QVERIFY(!QFile::exists(QDir(m_downloads.path()).absoluteFilePath(QStringLiteral("../../escape.txt"))));
    }

    void unlockClearsTheSecretMark()
    {
        HistoryModel clip = text(QStringLiteral("was secret"), 10);
        clip.signSecert(true);
        menus().unlockSecert(storedRow(clip.hash(), Category::history));
        QVERIFY(!storedRow(clip.hash(), Category::history).isSecret());
        QTRY_COMPARE(texts(menus().mainMenu()).at(1), QStringLiteral("was secret\t1"));
    }

    void spinnerTurnsWhileTransfersRun()
    {
        StatusBarController &status = StatusBarController::sharedInstance();
        QCOMPARE(status.trayItem().contextMenu(), menus().mainMenu());
        QVERIFY(!status.trayItem().icon().isNull());
        status.setProgress(0.25, true);
        QVERIFY(status.isLoading());
        status.setProgress(1.0, true);
        QVERIFY(!status.isLoading());
    }

    void sharingHandsTheFullText()
    {
        HistoryModel clip = text(QStringLiteral("share this text"), 10);
        menus().shareClicked({QStringLiteral("mail"), {}, {}}, clip);
        QCOMPARE(m_sharing.performed().last().second.text, QStringLiteral("share this text"));
        QFile::remove(PathHelper::getBaseFilePath(clip.hash()));
        QVERIFY(menus().share(clip)->isEmpty());
    }
};

QTEST_MAIN(TestMenu)
#include "tst_menu.moc"
