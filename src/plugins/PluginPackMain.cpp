// quillet-pack-plugin DIR OUT: builds a ".cpk" plugin package from a plugin folder.

#include "plugins/PluginPacker.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    QTextStream err(stderr);
    if (args.size() != 3 || args.at(1).startsWith(QLatin1Char('-'))) {
        err << "usage: quillet-pack-plugin PLUGIN_FOLDER OUTPUT.cpk\n"
               "Packs a plugin folder (info.lua, main.lua and its other Lua files) into a package\n"
               "that Quillet's plugin window installs.\n";
        return args.size() == 2
                       && (args.at(1) == QLatin1String("--help") || args.at(1) == QLatin1String("-h"))
                   ? 0
                   : 2;
    }
    QString error;
    if (!PluginPacker::pack(args.at(1), args.at(2), &error)) {
        err << "quillet-pack-plugin: " << error << '\n';
        return 1;
    }
    QTextStream(stdout) << "wrote " << args.at(2) << '\n';
    return 0;
}
