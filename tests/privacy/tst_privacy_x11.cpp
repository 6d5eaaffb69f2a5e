// The privacy rules at capture, end to end: another program copies to the real X11 clipboard
// of a private X server, the clipboard monitor captures it and the history shows the result.
#include "ClipboardPrograms.h"
#include "TestDirs.h"
#include "TestSync.h"
#include "X11TestMain.h"
#include "app/PrivacyCapture.h"
#include "app/StoreSetup.h"
#include "capture/CaptureTestSupport.h"
#include "capture/ClipController.h"
#include "platform/X11Pasteboard.h"
#include "plugins/AdvancePrivacyManager.h"
#include "store/ClipUserDefaults.h"
#include "store/Settings.h"
#include "store/SettingsKeys.h"
#include "store/Utils.h"
#include "support/Md5.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int kWaitMs = 15000;

// Whether the text was stored as a secret; nothing when it was not stored at all.
std::optional<bool> storedAsSecret(const QString &text)
{
    const std::optional<HistoryModel> row = CaptureTest::rowWithHash(md5_hex(text));
    return row ? std::optional<bool>(row->isSecret()) : std::nullopt;
}

} // namespace

class TestPrivacyX11 final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    // The capture as the program wires it: the X11 clipboard, the privacy rules and script.
    std::unique_ptr<X11Pasteboard> m_pasteboard;
    std::unique_ptr<AdvancePrivacyManager> m_script;
    std::unique_ptr<ClipController> m_capture;
    // Owners of the clipboard, each a helper process; a new copy takes the clipboard from the
    // previous owner, which then quits.
    ClipboardPrograms m_owners;

    // Copies a text as another program does and waits until the monitor has captured it.
    bool copyAndWaitForCapture(const QString &text, const QString &hint = QString())
    {
        const qint64 before = m_capture->pasteboard().changeCount();
        QProcess &owner = m_owners.start(QStringLiteral(PRIVACY_CLIPBOARD_OWNER),
                                         hint.isEmpty() ? QStringList{text} : QStringList{text, hint});
        if (!owner.waitForReadyRead(kWaitMs) || !owner.readAllStandardOutput().startsWith("ready"))
            return false;
        return QTest::qWaitFor(
            [&] {
                const qint64 count = m_capture->pasteboard().changeCount();
                return count > before && m_capture->lastChangedCount() == count && !m_capture->isCapturing();
            },
            kWaitMs);
    }

private slots:
    void initTestCase()
    {
        StoreSetup::prepare();
        m_pasteboard = std::make_unique<X11Pasteboard>();
        m_script = std::make_unique<AdvancePrivacyManager>(testSettings());
        m_capture = std::make_unique<ClipController>(*m_pasteboard, testFiles());
        m_capture->setPrivacy(std::make_unique<PrivacyCapture>(*m_script, testAccount()));
    }

    void cleanup()
    {
        for (const char *name :
             {SettingsKeys::analyseSecert, SettingsKeys::advancePrivacy, SettingsKeys::privacy_script})
            ClipUserDefaults::remove(QLatin1String(name));
    }

    void passwordManagerCopiesAreNeverStored()
    {
        const QString password = u"correct horse battery staple"_s;
        QVERIFY(copyAndWaitForCapture(password, u"secret"_s));
        QVERIFY(m_capture->pasteboard().isMarkedSecretByPasswordManager());
        QCOMPARE(storedAsSecret(password), std::nullopt);

        // Whatever the rules say: a script that keeps every clip as a secret does not help.
        testSettings().setAdvancePrivacy(true);
        m_script->setScriptContent(u"function main() return 1 end"_s);
        const QString other = u"another password from the vault"_s;
        QVERIFY(copyAndWaitForCapture(other, u"secret"_s));
        QCOMPARE(storedAsSecret(other), std::nullopt);

        // Only the hint makes the difference: the same text copied plainly is stored.
        testSettings().setAdvancePrivacy(false);
        QVERIFY(copyAndWaitForCapture(password));
        QVERIFY(!m_capture->pasteboard().isMarkedSecretByPasswordManager());
        QCOMPARE(storedAsSecret(password), false);
    }
};

QUILLET_XVFB_TEST_MAIN(TestPrivacyX11)

#include "tst_privacy_x11.moc"
