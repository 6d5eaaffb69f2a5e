#include "platform/DesktopSharing.h"

#include "support/Log.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace {

const QString kMail = QStringLiteral("mail");
const QString kOpen = QStringLiteral("open");
const QString kFileManager = QStringLiteral("file-manager");
const QString kFileManagerService = QStringLiteral("org.freedesktop.FileManager1");

bool hasProgram(const char *name)
{
    return !QStandardPaths::findExecutable(QLatin1String(name)).isEmpty();
}

bool hasFileManager()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    if (bus.interface()->isServiceRegistered(kFileManagerService))
        return true;
    const QDBusReply<QStringList> activatable = bus.interface()->activatableServiceNames();
    return activatable.isValid() && activatable.value().contains(kFileManagerService);
}

} // namespace

QList<ShareService> DesktopSharing::servicesFor(ShareKind kind)
{
    const bool isFile = kind == ShareKind::File;
    QList<ShareService> services;
    if (hasProgram("xdg-email"))
        services.append({kMail, QCoreApplication::translate("DesktopSharing", "邮件"),
                         QIcon::fromTheme(QStringLiteral("mail-send"))});
    if (isFile && hasProgram("xdg-open"))
        services.append({kOpen, QCoreApplication::translate("DesktopSharing", "用默认程序打开"),
                         QIcon::fromTheme(QStringLiteral("document-open"))});
    if (isFile && hasFileManager())
        services.append({kFileManager, QCoreApplication::translate("DesktopSharing", "在文件管理器中显示"),
                         QIcon::fromTheme(QStringLiteral("system-file-manager"))});
    return services;
}

bool DesktopSharing::perform(const QString &serviceId, const ShareItem &item)
{
    if (serviceId == kMail) {
        const QStringList arguments = item.filePath.isEmpty()
                                          ? QStringList{QStringLiteral("--body"), item.text}
                                          : QStringList{QStringLiteral("--attach"), item.filePath};
        return QProcess::startDetached(QStringLiteral("xdg-email"), arguments);
    }
    if (item.filePath.isEmpty())
        return false;
    if (serviceId == kOpen)
        return QProcess::startDetached(QStringLiteral("xdg-open"), {item.filePath});
    if (serviceId == kFileManager) {
        QDBusMessage call = QDBusMessage::createMethodCall(kFileManagerService,
                                                           QStringLiteral("/org/freedesktop/FileManager1"),
                                                           kFileManagerService, QStringLiteral("ShowItems"));
        call << QStringList{QUrl::fromLocalFile(item.filePath).toString()} << QString();
        return QDBusConnection::sessionBus().send(call);
    }
    qCDebug(lcPlatform) << "unknown sharing service" << serviceId;
    return false;
}
