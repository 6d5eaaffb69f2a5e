#include "sync/RequestTransport.h"

#include "support/Log.h"
#include "sync/SyncServer.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QThread>

namespace {
// A request that has not finished after this long fails, so no button waits for ever.
constexpr int kTransferTimeoutMs = 30000;
} // namespace

RequestTransport::RequestTransport()
    : m_network(new QNetworkAccessManager)
{
    if (QCoreApplication *app = QCoreApplication::instance())
        m_network->moveToThread(app->thread());
}

RequestTransport::~RequestTransport()
{
    delete m_network;
}

QNetworkAccessManager &RequestTransport::network()
{
    Q_ASSERT(QThread::currentThread() == m_network->thread());
    return *m_network;
}

void RequestTransport::onTransportThread(std::function<void()> send)
{
    if (QThread::currentThread() == m_network->thread())
        send();
    else
        QMetaObject::invokeMethod(m_network, std::move(send), Qt::QueuedConnection);
}

QNetworkRequest RequestTransport::makeRequest(const QUrl &url)
{
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
