// What a user sees: the paste keystroke a terminal gets, menu titles, the interface's language,
// the share submenu and saved file names. A private X server
// for the keystroke; the real store, settings file, status menu and plugin runtime.

#include "TestDirs.h"
#include "TestSync.h"
#include "X11TestMain.h"
#include "menu/ClipFixtures.h"

#include "capture/ClipActions.h"
#include "menu/MenuController.h"
#include "platform/X11KeyInjector.h"
#include "store/ClipUserDefaults.h"
#include "store/SettingsKeys.h"
#include "ui/InterfaceLanguage.h"

#include <QAction>
#include <QDateTime>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {

// A window that records the key presses it receives.
class KeyRecorder final : public QWidget
{
public:
    KeyRecorder() { setFocusPolicy(Qt::StrongFocus); }
    QList<QKeyCombination> pressed;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_V)
            pressed << event->keyCombination();
    }
};

// One line of a menu item: the text before the shortcut column.
QString titleOf(const QAction *item)
{
    return item->text().section(QLatin1Char('\t'), 0, 0);
}

} // namespace

class TestWhatUserSees final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    QTemporaryDir m_downloads;

private Q_SLOTS:
    // A terminal emulator, known by its window class, gets Control+Shift+V; other windows
    // Control+V. The list of classes is a settings key.
    void terminalsGetControlShiftV()
    {
        KeyRecorder window;
        QVERIFY(X11Test::showFocused(window));
        X11KeyInjector injector;
        const QString key = QLatin1String(SettingsKeys::terminalClasses);

        // This test's window class is its program name; listed, it counts as a terminal.
        ClipUserDefaults::setValue(key,
                                   QStringList{u"xterm"_s, QCoreApplication::applicationName().toUpper()});
        ClipActions::paste(injector);
        QTRY_COMPARE_WITH_TIMEOUT(window.pressed.size(), 1, 10000);
        QCOMPARE(window.pressed.last(), QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_V));

        ClipUserDefaults::setValue(key, QStringList{u"konsole"_s});
        ClipActions::paste(injector);
        QTRY_COMPARE_WITH_TIMEOUT(window.pressed.size(), 2, 10000);
        QCOMPARE(window.pressed.last(), QKeyCombination(Qt::ControlModifier, Qt::Key_V));

        // Without the key, a list of common terminals applies.
        ClipUserDefaults::remove(key);
        QVERIFY(ClipActions::terminalClasses().contains(u"konsole"_s));
        QVERIFY(ClipActions::terminalClasses().contains(u"gnome-terminal-server"_s));
    }

    // Titles stay on one line and are cut between characters.
    void menuTitlesAreOneLineOfWholeCharacters()
    {
        const auto title = &MenuController::reasonablySizedVersionOfString;
        QCOMPARE(title(u"name\tvalue\r\nnext"_s), u"name value  next"_s);
        const QString family = u"👨‍👩‍👧"_s; // one character of five code points
        for (int prefix = 15; prefix < 21; ++prefix) {
            const QString text = QString(prefix, QLatin1Char('x')) + family.repeated(12);
            const QString shown = title(text);
            QVERIFY(shown.endsWith(u" …"_s));
            QVERIFY2(QStringView(shown).chopped(2).isValidUtf16(), qPrintable(shown));
            const QString cut = shown.chopped(2).mid(prefix);
            QCOMPARE(cut, family.repeated(20 - prefix));
        }
        QCOMPARE(title(u"😀"_s.repeated(25)), u"😀"_s.repeated(25));

        MenuController menus(testSync());
        ClipFixtures::text(u"user\tpassword\nsecond line"_s, 10);
        menus.buildMenu();
        const QAction *item = menus.mainMenu()->actions().at(1);
        QCOMPARE(item->text().count(QLatin1Char('\t')), 1);
        QCOMPARE(titleOf(item), u"user password second line"_s);
    }

    // The interface speaks English unless the locale's language is Chinese (C and POSIX
    // included) or the user chose a language; Qt's own texts follow it (the script editor's
    // time-out: tst_plugins_contained).
    void interfaceFollowsLanguage()
    {
        using Language = Settings::Language;
        QVERIFY(!InterfaceLanguage::isChinese(Language::System, QLocale::c()));
        QVERIFY(!InterfaceLanguage::isChinese(Language::System, QLocale(u"en_US"_s)));
        QVERIFY(!InterfaceLanguage::isChinese(Language::System, QLocale(u"de_DE"_s)));
        QVERIFY(InterfaceLanguage::isChinese(Language::System, QLocale(u"zh_CN"_s)));
        QVERIFY(InterfaceLanguage::isChinese(Language::System, QLocale(u"zh_TW"_s)));
        QVERIFY(InterfaceLanguage::isChinese(Language::Chinese, QLocale(u"en_US"_s)));
        QVERIFY(!InterfaceLanguage::isChinese(Language::English, QLocale(u"zh_CN"_s)));

        const auto shown = [] {
            QStringList texts;
            QLineEdit field;
            std::unique_ptr<QMenu> context(field.createStandardContextMenu());
            for (const QAction *action : context->actions())
                texts << action->text();
            MenuController menus(testSync());
            menus.buildMenu();
            for (const QAction *action : menus.mainMenu()->actions())
                texts << titleOf(action);
            return texts;
        };
        static const QRegularExpression han(u"\\p{Han}"_s);

        QVERIFY(InterfaceLanguage::apply(Language::System, QLocale::c()));
        const QStringList english = shown();
        QVERIFY2(!english.join(QString()).contains(han), qPrintable(english.join(u", "_s)));
        QVERIFY2(english.join(QString()).contains(u"Copy"_s), qPrintable(english.join(u", "_s)));

        QVERIFY(InterfaceLanguage::apply(Language::Chinese));
        const QStringList chinese = shown();
        QVERIFY2(chinese.join(QString()).contains(u"复制"_s), qPrintable(chinese.join(u", "_s)));
        // The menu's last command (quit) is Chinese then.
        QVERIFY2(chinese.last().contains(han), qPrintable(chinese.join(u", "_s)));
    }

    // The share submenu never opens empty; a saved image gets a name a person can read.
    void shareSubmenuAndSavedNamesSpeakPlainly()
    {
        MenuController menus(testSync());
        menus.actions().setPlatform({nullptr, nullptr, nullptr});
        menus.actions().setDownloadsFolder(m_downloads.path());
        menus.actions().setDownloadNotice([](const QString &) {});
        const qint64 copied = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7)).toSecsSinceEpoch();
        const HistoryModel clip = ClipFixtures::image(ClipFixtures::encodedImage("TIFF"), copied);

        std::unique_ptr<QMenu> share(menus.share(clip));
        QCOMPARE(share->actions().size(), 1);
        QCOMPARE(share->actions().first()->text(), u"没有安装可用的分享服务"_s);
        QVERIFY(!share->actions().first()->isEnabled());

        menus.actions().save(clip);
        menus.actions().save(clip);
        QVERIFY(QFileInfo::exists(m_downloads.filePath(u"图片 2026-03-04 05.06.07.jpg"_s)));
        QVERIFY(QFileInfo::exists(m_downloads.filePath(u"图片 2026-03-04 05.06.07 (2).jpg"_s)));
        QVERIFY(!QFileInfo::exists(m_downloads.filePath(clip.hash() + u".jpg"_s)));
    }
};

QUILLET_XVFB_TEST_MAIN(TestWhatUserSees)
#include "tst_what_user_sees.moc"
