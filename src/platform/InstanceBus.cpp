#include "platform/InstanceBus.h"

#include "support/Log.h"
#include "support/Md5.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>

namespace {

const QString kPath = QStringLiteral("/org/quillet/Quillet");
const QString kInterface = QStringLiteral("org.quillet.Quillet");
// The program answers at once; a bus without it answers "no such name" at once too.
constexpr int kCallTimeoutMs = 5000;

} // namespace

InstanceBus::InstanceBus(const QString &dataFolder, QObject *parent)
    : QObject(parent)
    , m_service(serviceName(dataFolder))
{ }

InstanceBus::~InstanceBus()
{
    if (!m_published)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(kPath);
    bus.unregisterService(m_service);
}

QString InstanceBus::serviceName(const QString &dataFolder)
{
    // A bus name element may not start with a digit: the id follows a letter.
    return QStringLiteral("org.quillet.Quillet.d")
           + md5_hex(QDir::cleanPath(QDir(dataFolder).absolutePath())).left(16);
}

bool InstanceBus::publish()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCInfo(lcPlatform) << "no session bus: quillet --menu and --history cannot reach this instance";
        return false;
    }
    if (!bus.registerObject(kPath, this, QDBusConnection::ExportScriptableSlots)) {
        qCWarning(lcPlatform) << "cannot publish the instance's commands:" << bus.lastError().message();
        return false;
    }
    if (!bus.registerService(m_service)) {
        qCWarning(lcPlatform) << "cannot take the bus name" << m_service << ":" << bus.lastError().message();
        bus.unregisterObject(kPath);
        return false;
    }
    m_published = true;
    return true;
}

bool InstanceBus::send(const QString &dataFolder, Command command)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    const QString method =
        command == Command::ShowMenu ? QStringLiteral("ShowMenu") : QStringLiteral("ShowHistory");
    const QDBusMessage reply =
        bus.call(QDBusMessage::createMethodCall(serviceName(dataFolder), kPath, kInterface, method),
                 QDBus::Block, kCallTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

void InstanceBus::ShowMenu()
{
    emit menuRequested();
}

void InstanceBus::ShowHistory()
{
    emit historyRequested();
}
