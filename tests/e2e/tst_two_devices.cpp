// Two computers signed in to one account: two quillet processes, each with its own folders, X
// server and device token, against the real sync service and broker. What is copied on one
// arrives on the other with its payload, byte for byte; a secret clip never leaves its
// computer; a clip deleted from one computer's menu leaves the other.
#include "ClipboardPrograms.h"
#include "QuilletDevice.h"
#include "ServerHarness.h"
#include "SyncClient.h"
#include "TestFiles.h"

#include <QImage>
#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int kTimeoutMs = 30000;

QuilletDevice::Account accountOf(const SyncClient &client, const QString &email)
{
    return {client.userToken(), client.userId(), email, client.mqttUser(), client.mqttPassword()};
}

} // namespace

class TestTwoDevices final : public QObject
{
    Q_OBJECT

private:
    ServerHarness m_server;
    std::unique_ptr<QuilletDevice> m_a;
    std::unique_ptr<QuilletDevice> m_b;
    ClipboardPrograms m_programs;
    QTemporaryDir m_files;
    QuilletDevice::Service m_service;
    QuilletDevice::Account m_accountA;

    // Copies on one device, as another program there would, and waits until the device has
    // stored it as a new clip; the clip's hash, or none.
    QString copyWith(QuilletDevice &device, const QByteArray &bytes, const QString &type)
    {
        QStringList before;
        for (const QuilletDevice::Row &row : device.rows())
            before << row.hash;
        if (!m_programs.copy(bytes, type, kTimeoutMs, device.displayEnvironment()))
            return {};
        QString hash;
        const bool stored = QTest::qWaitFor(
            [&] {
                for (const QuilletDevice::Row &row : device.rows()) {
                    if (!before.contains(row.hash))
                        hash = row.hash;
                }
                return !hash.isEmpty();
            },
            kTimeoutMs);
        return stored ? hash : QString();
    }

    // The clip of this hash reached `to` with its kind and a payload equal to the sender's.
    static void verifyArrived(QuilletDevice &from, QuilletDevice &to, const QString &hash)
    {
        QVERIFY(!hash.isEmpty());
        QTRY_VERIFY2_WITH_TIMEOUT(to.row(hash).localFileOk, qPrintable(hash), kTimeoutMs);
        QCOMPARE(to.row(hash).type, from.row(hash).type);
        QVERIFY(!from.payload(hash).isEmpty());
        QCOMPARE(to.payload(hash), from.payload(hash));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.start());
        const QString email = u"two.computers@example.org"_s;
        SyncClient clientA(m_server.origin(), SyncClient::md5Hex("computer A"));
        SyncClient clientB(m_server.origin(), SyncClient::md5Hex("computer B"));
        QCOMPARE(clientA.registerUser(email, u"correct horse battery"_s).code(), 0);
        QCOMPARE(clientB.login(email, u"correct horse battery"_s).code(), 0);
        m_service = QuilletDevice::Service{m_server.apiUrl(), m_server.mqttPort()};
        m_accountA = accountOf(clientA, email);
        m_a = std::make_unique<QuilletDevice>(QStringLiteral(QUILLET_PROGRAM), clientA.deviceToken());
        m_b = std::make_unique<QuilletDevice>(QStringLiteral(QUILLET_PROGRAM), clientB.deviceToken());
        QVERIFY(m_a->start(m_service, m_accountA));
        QVERIFY(m_b->start(m_service, accountOf(clientB, email)));
        QVERIFY2(m_a->waitForNotices(), m_a->log().constData());
        QVERIFY2(m_b->waitForNotices(), m_b->log().constData());
    }

    void cleanupTestCase() { QVERIFY(!m_server.serviceLog().contains("correct horse")); }

    void copiesArriveOnTheOtherComputerWithTheirPayloads()
    {
        // A secret first: it stays on A, while the clips after it travel.
        const QString secret = copyWith(*m_a, "my password is swordfish", u"UTF8_STRING"_s);
        QVERIFY2(!secret.isEmpty(), m_a->log().constData());
        QImage image(96, 64, QImage::Format_RGB32);
        image.fill(QColor(40, 120, 200));
        image.setPixelColor(5, 7, Qt::red);
        verifyArrived(*m_a, *m_b, copyWith(*m_a, imageBytes(image), u"image/png"_s));

        const QString path = m_files.filePath(u"report.bin"_s);
        QByteArray bytes(200 * 1024, '\0');
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
        QVERIFY(TestFiles::write(path, bytes));
        const QString copiedFile =
            copyWith(*m_a, QUrl::fromLocalFile(path).toEncoded() + "\r\n", u"text/uri-list"_s);
        // Copied files are secret until the user lifts the mark from the clip's submenu, whose
        // last items are "解除机密并上传" and "删除".
        QVERIFY(m_a->chooseFromMenu({u"Down"_s, u"Right"_s, u"Up"_s, u"Up"_s, u"Return"_s}));
        verifyArrived(*m_a, *m_b, copiedFile);
        QCOMPARE(m_b->payload(copiedFile), bytes);
        // And the other way.
        verifyArrived(*m_b, *m_a, copyWith(*m_b, "an answer from computer B", u"UTF8_STRING"_s));

        // By now every later clip has passed: the secret reached neither B nor the service.
        QVERIFY(m_b->row(secret).hash.isEmpty());
        const QByteArray stored = m_server.storedBytes();
        QVERIFY(!stored.contains("swordfish"));
        QVERIFY(!stored.contains(secret.toLatin1()));
    }

    // A clip that could not be sent before Quillet ended is sent when it starts again.
    void pendingClipGoesWhenQuilletStartsAgain()
    {
        const QByteArray failedPush = "request failed: \"/api/push/\"";
        const qsizetype failuresBefore = m_a->log().count(failedPush);
        m_server.killService();
        const QString hash = copyWith(*m_a, "copied just before quitting", u"UTF8_STRING"_s);
        QTRY_VERIFY_WITH_TIMEOUT(m_a->log().count(failedPush) > failuresBefore, kTimeoutMs);
        m_a->stop();
        QVERIFY(m_server.restartService());
        QVERIFY(m_a->start(m_service, m_accountA));
        verifyArrived(*m_a, *m_b, hash);
    }

    void aClipDeletedFromTheMenuLeavesTheOtherComputer()
    {
        const QString doomed = copyWith(*m_a, "a clip to delete", u"UTF8_STRING"_s);
        verifyArrived(*m_a, *m_b, doomed);

        // The hot key opens A's menu; the newest clip's submenu ends with "删除".
        QVERIFY(m_a->chooseFromMenu({u"Down"_s, u"Right"_s, u"Up"_s, u"Return"_s}));
        QTRY_VERIFY_WITH_TIMEOUT(m_a->row(doomed).hash.isEmpty(), kTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(m_b->row(doomed).hash.isEmpty(), kTimeoutMs);
        // The clips before it stay.
        QCOMPARE(m_b->rows().size(), m_a->rows().size() - 1);
    }

    // A favourite marked from A's menu is a favourite on B at once: no "同步收藏" on B.
    void aFavouriteMarkedOnOneComputerArrivesOnTheOther()
    {
        const QString liked = copyWith(*m_a, "a clip worth keeping", u"UTF8_STRING"_s);
        verifyArrived(*m_a, *m_b, liked);
        // The newest clip's submenu: "收藏" comes before "分享" and "删除", its last items.
        QVERIFY(m_a->chooseFromMenu({u"Down"_s, u"Right"_s, u"Up"_s, u"Up"_s, u"Up"_s, u"Return"_s}));
        QTRY_VERIFY2_WITH_TIMEOUT(m_b->row(liked).favourite > 0, m_b->log().constData(), kTimeoutMs);
    }
};

QTEST_GUILESS_MAIN(TestTwoDevices)
#include "tst_two_devices.moc"
