#include "platform/SingleInstance.h"

#include "support/Md5.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

SingleInstance::SingleInstance(const QString &dataFolder)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    const QString id = md5_hex(QDir::cleanPath(QDir(dataFolder).absolutePath())).left(16);
    m_socketPath = folder + QStringLiteral("/quillet-") + id + QStringLiteral(".sock");
}

bool SingleInstance::tryAcquire()
{
    if (m_server.isListening())
        return true;
    // No socket options: with them Qt moves a fresh socket over an existing one, which would
    // let a second instance take the name of a running first one.
    if (m_server.listen(m_socketPath))
        return true;
    QLocalSocket probe;
    probe.connectToServer(m_socketPath);
    if (probe.waitForConnected(1000))
        return false;
    // Nobody answers: the socket file is left from an instance that ended without cleaning up.
    QLocalServer::removeServer(m_socketPath);
    return m_server.listen(m_socketPath);
}
