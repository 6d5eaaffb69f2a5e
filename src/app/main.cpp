#include "BuildInfo.h"
#include "app/AppDelegate.h"
#include "app/StoreSetup.h"
#include "platform/InstanceBus.h"
#include "platform/SingleInstance.h"
#include "platform/TerminationSignals.h"
#include "store/PathHelper.h"
#include "store/Settings.h"
#include "support/Log.h"
#include "support/MemoryTrim.h"
#include "ui/InterfaceLanguage.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Answered before anything needs a display, so that it works anywhere (a package check, a
    // shell without X).
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--version") == 0) {
            std::printf("quillet %s\n", BuildInfo::version);
            return 0;
        }
    }

    // Before any thread exists: a termination signal becomes a normal quit (below).
    TerminationSignals::blockInThisProcess();
    MemoryTrim::giveLargeBlocksTheirOwnPages();

    // The clipboard is read through X11 (also under Wayland, through Xwayland): only there
    // does a program without a focused window see every change of the clipboard.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillet"));
    QApplication::setApplicationVersion(QString::fromLatin1(BuildInfo::version));
    QApplication::setQuitOnLastWindowClosed(false);
    // The locale's language, or the one chosen in the settings.
    InterfaceLanguage::apply(Settings::language());

    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("Clipboard history"));
    options.addHelpOption();
    options.addVersionOption();
    const QCommandLineOption menuOption(
        QStringLiteral("menu"), QStringLiteral("Show the menu of the running Quillet at the pointer."));
    const QCommandLineOption historyOption(QStringLiteral("history"),
                                           QStringLiteral("Open the history window of the running Quillet."));
    options.addOption(menuOption);
    options.addOption(historyOption);
    options.process(app);

    // A second Quillet on the same data folder would fight the first over the tray, the hot
    // key and the database; asked for the menu or the history, it asks the first one.
    SingleInstance instance(PathHelper::dataFolder());
    if (!instance.tryAcquire()) {
        if (options.isSet(menuOption) || options.isSet(historyOption)) {
            const auto command = options.isSet(historyOption) ? InstanceBus::Command::ShowHistory
                                                              : InstanceBus::Command::ShowMenu;
            if (InstanceBus::send(PathHelper::dataFolder(), command))
                return 0;
            QTextStream(stderr) << "The running Quillet did not answer on the session bus.\n";
            return 1;
        }
        QTextStream(stderr) << "Quillet is already running for the data folder " << PathHelper::dataFolder()
                            << "; this second start ends here.\n";
        return 1;
    }

    qCInfo(lcApp).noquote() << "Quillet" << BuildInfo::version << "started;" << StoreSetup::prepare();
    AppDelegate delegate;
    delegate.start();
    InstanceBus bus(PathHelper::dataFolder());
    delegate.listenTo(bus);
    bus.publish();
    if (options.isSet(historyOption))
        delegate.showHistory();
    else if (options.isSet(menuOption))
        QMetaObject::invokeMethod(&delegate, &AppDelegate::showMenu, Qt::QueuedConnection);
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &app, [](int signal) {
        qCInfo(lcApp) << "signal" << signal << "received; quitting";
        QCoreApplication::quit();
    });
    return QApplication::exec();
}
