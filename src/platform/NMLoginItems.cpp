#include "platform/NMLoginItems.h"

#include "support/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>

namespace {

const QString kBaseName = QStringLiteral("quillet");
const QString kSuffix = QStringLiteral(".desktop");

// The program of an Exec line: its first argument, unquoted as desktop entries quote it.
QString programOfExec(const QString &exec)
{
    const QString line = exec.trimmed();
    if (!line.startsWith(QLatin1Char('"')))
        return line.section(QLatin1Char(' '), 0, 0);
    QString program;
    for (qsizetype i = 1; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == QLatin1Char('\\') && i + 1 < line.size()) {
            program += line[++i];
            continue;
        }
        if (c == QLatin1Char('"'))
            break;
        program += c;
    }
    return program;
}

QString quotedForExec(const QString &path)
{
    QString escaped;
    for (const QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            escaped += QLatin1Char('\\');
        escaped += c;
    }
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

// The program an entry starts, resolved to the file it names; empty when it names none.
QString resolvedProgram(const QString &entryPath)
{
    QFile file(entryPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inMainGroup = line == QLatin1String("[Desktop Entry]");
        else if (inMainGroup && line.startsWith(QLatin1String("Exec=")))
            return QFileInfo(programOfExec(line.mid(5))).canonicalFilePath();
    }
    return {};
}

QStringList entryFiles()
{
    const QDir folder(NMLoginItems::autostartFolder());
    QStringList files;
    const QStringList names = folder.entryList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name);
    for (const QString &name : names)
        files << folder.filePath(name);
    return files;
}

// The entries that start the program at the path.
QStringList matchingEntries(const QString &path)
{
    const QString program = QFileInfo(path).canonicalFilePath();
    QStringList matches;
    if (program.isEmpty())
        return matches;
    const QStringList files = entryFiles();
    for (const QString &file : files) {
        if (resolvedProgram(file) == program)
            matches << file;
    }
    return matches;
}

} // namespace

namespace NMLoginItems {

QString autostartFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/autostart");
}

bool pathInLoginItems(const QString &path)
{
    if (path.isEmpty() || !QFileInfo(autostartFolder()).isReadable())
        return false;
    return !matchingEntries(path).isEmpty();
}

void addPathToLoginItems(const QString &path, bool hide)
{
    if (path.isEmpty())
        return;
    const QDir folder(autostartFolder());
    if (!QDir().mkpath(folder.path()))
        return;
    QString name = kBaseName + kSuffix;
    for (int n = 2; folder.exists(name); ++n)
        name = kBaseName + QLatin1Char('-') + QString::number(n) + kSuffix;
    const QByteArray entry = "[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=Quillet\n"
                             "Exec="
                             + quotedForExec(QFileInfo(path).absoluteFilePath()).toUtf8()
                             + "\n"
                               "Icon=quillet\n"
                               "X-GNOME-Autostart-enabled=true\n"
                               "HideOnLaunch="
                             + QByteArray(hide ? "true" : "false") + "\n";
    QSaveFile file(folder.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(entry) != entry.size() || !file.commit())
        qCWarning(lcApp) << "Unable to add" << path << "to open at login:" << file.errorString();
}

void removePathFromLoginItems(const QString &path)
{
    if (path.isEmpty())
        return;
    const QStringList entries = matchingEntries(path);
    for (const QString &entry : entries) {
        QFile file(entry);
        if (!file.remove())
            qCWarning(lcApp).noquote() << QStringLiteral("Unable to remove %1 from open at login (%2)")
                                              .arg(QUrl::fromLocalFile(entry).toString())
                                              .arg(static_cast<int>(file.error()));
    }
}

} // namespace NMLoginItems
