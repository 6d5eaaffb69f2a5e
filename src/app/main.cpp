#include "BuildInfo.h"
#include "app/StoreSetup.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quillet"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(BuildInfo::version));

    QTextStream out(stdout);
    out << "Quillet " << BuildInfo::version << ": prepared its store.\n" << StoreSetup::prepare() << '\n';
    out << "Clipboard capture and the tray menu are not part of this build yet.\n";
    return 0;
}
