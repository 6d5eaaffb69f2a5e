#include "sync/RequestTransport.h"

#include "support/Log.h"
#include "support/SerialQueue.h"
#include "sync/SyncServer.h"

#include <QNetworkAccessManager>
#include <QSslCertificate>
#include <QSslConfiguration>

namespace {
// A request that has not finished after this long fails, so no button waits for ever.
constexpr int kTransferTimeoutMs = 30000;
} // namespace

RequestTransport &RequestTransport::sharedInstance()
{
    static auto *instance = new RequestTransport(QStringLiteral("data manager"));
    return *instance;
}

RequestTransport::RequestTransport(const QString &queueName)
    : m_queue(new SerialQueue(queueName))
{
    m_queue->sync([this] { m_network = new QNetworkAccessManager(m_queue->context()); });
}

QNetworkAccessManager &RequestTransport::network()
{
    Q_ASSERT(m_queue->isCurrent());
    return *m_network;
}

QNetworkRequest RequestTransport::makeRequest(const QUrl &url)
{
    Q_ASSERT(m_queue->isCurrent());
    QNetworkRequest request(url);
    request.setTransferTimeout(kTransferTimeoutMs);
    const QString caFile = SyncServer::caFile();
    if (caFile != m_lastCAFile) {
        // An open connection was trusted under the old authorities; none may be reused.
        m_network->clearConnectionCache();
        m_lastCAFile = caFile;
    }
    if (!caFile.isEmpty() && url.scheme() == QLatin1String("https")) {
        const QList<QSslCertificate> authorities =
            QSslCertificate::fromPath(caFile, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
        if (authorities.isEmpty())
            qCWarning(lcSync) << "no certificate could be read from the CA file" << caFile;
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(authorities);
        tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
        request.setSslConfiguration(tls);
    }
    return request;
}
