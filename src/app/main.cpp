#include "BuildInfo.h"
#include "app/CaptureSetup.h"
#include "app/StoreSetup.h"
#include "support/Log.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // The clipboard is read through X11 (also under Wayland, through Xwayland): only there
    // does a program without a focused window see every change of the clipboard.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillet"));
    QApplication::setApplicationVersion(QString::fromLatin1(BuildInfo::version));
    QApplication::setQuitOnLastWindowClosed(false);

    qCInfo(lcApp).noquote() << "Quillet" << BuildInfo::version << "started;" << StoreSetup::prepare();
    CaptureSetup::start();
    return QApplication::exec();
}
