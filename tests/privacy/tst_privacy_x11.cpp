// The privacy rules at capture, end to end: another program copies to the real X11 clipboard
// of a private X server, the clipboard monitor captures it and the history shows the result.
#include "TestDirs.h"
#include "XvfbServer.h"
#include "app/CaptureSetup.h"
#include "app/ClipController.h"
#include "app/StoreSetup.h"
#include "platform/Pasteboard.h"
#include "plugins/AdvancePrivacyManager.h"
#include "store/ClipUserDefaults.h"
#include "store/DBKeeper.h"
#include "store/SettingsKeys.h"
#include "store/Utils.h"
#include "support/Md5.h"

#include <QGuiApplication>
#include <QProcess>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

constexpr int kWaitMs = 15000;

std::optional<HistoryModel> historyRow(const QString &text)
{
    const QString hash = md5_hex(text);
    for (const HistoryModel &row : DBKeeper::getAllHistory()) {
        if (row.hash() == hash)
            return row;
    }
    return std::nullopt;
}

} // namespace

class TestPrivacyX11 final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    ClipController *m_capture = nullptr;
    // Owners of the clipboard, each a helper process; a new copy takes the clipboard from the
    // previous owner, which then quits. Killed by their PIDs at the end.
    std::vector<std::unique_ptr<QProcess>> m_owners;

    // Copies a text as another program does and waits until the monitor has captured it.
    bool copyAndWaitForCapture(const QString &text, const QString &hint = QString())
    {
        const qint64 before = m_capture->pasteboard().changeCount();
        auto owner = std::make_unique<QProcess>();
        QStringList args{QStringLiteral("--text"), text};
        if (!hint.isEmpty())
            args << QStringLiteral("--hint") << hint;
        owner->start(QStringLiteral(PRIVACY_CLIPBOARD_OWNER), args);
        if (!owner->waitForReadyRead(kWaitMs) || !owner->readAllStandardOutput().startsWith("ready")) {
            qWarning() << "clipboard owner did not start:" << owner->readAllStandardError();
            return false;
        }
        m_owners.push_back(std::move(owner));
        const auto captured = [&] {
            const qint64 count = m_capture->pasteboard().changeCount();
            return count > before && m_capture->lastChangedCount() == count;
        };
        return QTest::qWaitFor(captured, kWaitMs);
    }

private slots:
    void initTestCase()
    {
        StoreSetup::prepare();
        m_capture = &CaptureSetup::start();
    }

    void cleanupTestCase()
    {
        for (const std::unique_ptr<QProcess> &owner : m_owners) {
            if (owner->state() != QProcess::NotRunning) {
                owner->kill();
                owner->waitForFinished(kWaitMs);
            }
        }
    }

    void cleanup()
    {
        for (const char *name : {SettingsKeys::analyseSecert, SettingsKeys::advancePrivacy,
                                 SettingsKeys::privacy_script})
            ClipUserDefaults::remove(QLatin1String(name));
    }

    void keywordsMarkTextSecretWithDefaultSettings()
    {
        const QString secret = QStringLiteral("我的密码是123");
        QVERIFY(copyAndWaitForCapture(secret));
        std::optional<HistoryModel> row = historyRow(secret);
        QVERIFY(row);
        QVERIFY(row->isSecret());

        const QString plain = QStringLiteral("The meeting moved to Thursday.");
        QVERIFY(copyAndWaitForCapture(plain));
        row = historyRow(plain);
        QVERIFY(row);
        QVERIFY(!row->isSecret());
    }

    void advancedScriptDecidesInsteadOfKeywords()
    {
        Utils::setAdvancePrivacy(true);
        AdvancePrivacyManager::sharedInstance().setScriptContent(QStringLiteral(
            "function main(from, extension, content)\n"
            "  if from == 'text' and content:find('drop me', 1, true) then return -1 end\n"
            "  if from == 'text' and content:find('keep me', 1, true) then return 1 end\n"
            "  return 0\nend"));

        const QString dropped = QStringLiteral("drop me: ordinary words");
        QVERIFY(copyAndWaitForCapture(dropped));
        QVERIFY(!historyRow(dropped));

        const QString secret = QStringLiteral("keep me as a secret");
        QVERIFY(copyAndWaitForCapture(secret));
        QVERIFY(historyRow(secret) && historyRow(secret)->isSecret());

        // The keyword rules no longer apply.
        const QString keyword = QStringLiteral("PassWord in advanced mode");
        QVERIFY(copyAndWaitForCapture(keyword));
        QVERIFY(historyRow(keyword) && !historyRow(keyword)->isSecret());
    }

    void passwordManagerCopiesAreNeverStored()
    {
        const QString password = QStringLiteral("correct horse battery staple");
        QVERIFY(copyAndWaitForCapture(password, QStringLiteral("secret")));
        QVERIFY(m_capture->pasteboard().isMarkedSecretByPasswordManager());
        QVERIFY(!historyRow(password));

        // Whatever the rules say: a script that keeps every clip as a secret does not help.
        Utils::setAdvancePrivacy(true);
        AdvancePrivacyManager::sharedInstance().setScriptContent(QStringLiteral("function main() return 1 end"));
        const QString other = QStringLiteral("another password from the vault");
        QVERIFY(copyAndWaitForCapture(other, QStringLiteral("secret")));
        QVERIFY(!historyRow(other));

        // Only the hint makes the difference: the same text copied plainly is stored.
        Utils::setAdvancePrivacy(false);
        QVERIFY(copyAndWaitForCapture(password));
        QVERIFY(!m_capture->pasteboard().isMarkedSecretByPasswordManager());
        QVERIFY(historyRow(password));
    }
};

int main(int argc, char *argv[])
{
    // The private X server comes first: the application connects to it at creation.
    XvfbServer xvfb;
    if (!xvfb.start()) {
        qCritical("cannot start Xvfb");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    TestPrivacyX11 test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_privacy_x11.moc"
