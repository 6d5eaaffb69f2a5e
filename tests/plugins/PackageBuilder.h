#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Writes zip archives for the plugin tests with libzip: real ".cpk" packages, and broken or
// hostile ones.
namespace PackageBuilder {

struct Entry {
    QByteArray name; // a name ending in "/" is a folder entry
    QByteArray content;
};

// Entries are stored uncompressed when `stored` is set, so a test can find and damage the bytes.
bool writeZip(const QString &path, const QList<Entry> &entries, bool stored = false);

// The entries of a well-formed package "Payload/<folder>/" with info.lua and main.lua.
QList<Entry> pluginEntries(const QByteArray &folder, const QByteArray &bundleId, const QByteArray &name,
                           const QByteArray &mainLua, bool folderEntries = true);
QByteArray infoLua(const QByteArray &bundleId, const QByteArray &name, const QByteArray &version = "1.0");

// Writes each entry as a file under folder, creating the missing parents.
bool writeFiles(const QString &folder, const QList<Entry> &files);
// Writes info.lua and main.lua into <root>/<folderName>.
bool writePluginFolder(const QString &root, const QString &folderName, const QByteArray &infoLua,
                       const QByteArray &mainLua);

} // namespace PackageBuilder
