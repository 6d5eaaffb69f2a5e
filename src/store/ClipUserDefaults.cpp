#include "store/ClipUserDefaults.h"

#include "store/PrivateFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {

// QSettings is reentrant: a fresh object per call is safe on any thread, and its destructor
// writes the change to the file.
QSettings open()
{
    return QSettings(ClipUserDefaults::settingsPath(), QSettings::IniFormat);
}

// The file holds the sign-in token and the broker password: it is written into a folder only
// its owner can enter (made so when missing), and left readable by its owner only.
template<typename Change> void write(Change change)
{
    const QString path = ClipUserDefaults::settingsPath();
    PrivateFiles::makeFolder(QFileInfo(path).absolutePath());
    {
        QSettings settings(path, QSettings::IniFormat);
        change(settings);
        settings.sync();
    }
    PrivateFiles::restrict(path);
}

} // namespace

namespace ClipUserDefaults {

QString settingsPath()
{
    QString folder = qEnvironmentVariable("QUILLET_CONFIG_DIR");
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                 + QStringLiteral("/Quillet");
    return QDir::cleanPath(folder) + QStringLiteral("/Quillet.conf");
}

bool contains(const QString &key)
{
    return open().contains(key);
}

QVariant value(const QString &key)
{
    return open().value(key);
}

void setValue(const QString &key, const QVariant &value)
{
    write([&](QSettings &settings) { settings.setValue(key, value); });
}

void remove(const QString &key)
{
    write([&](QSettings &settings) { settings.remove(key); });
}

void tighten()
{
    const QString path = settingsPath();
    PrivateFiles::restrict(QFileInfo(path).absolutePath());
    PrivateFiles::restrict(path);
}

bool boolValue(const QString &key, bool fallback)
{
    const QVariant stored = value(key);
    if (stored.typeId() == QMetaType::Bool)
        return stored.toBool();
    // The INI file holds text: only the spellings of a boolean count, anything else (a damaged
    // file) reads as the default.
    const QString text = stored.toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("1"))
        return true;
    if (text == QLatin1String("false") || text == QLatin1String("0"))
        return false;
    return fallback;
}

double doubleValue(const QString &key, double fallback)
{
    const QVariant stored = value(key);
    bool ok = false;
    const double number = stored.toDouble(&ok);
    return stored.isValid() && ok ? number : fallback;
}

int intValue(const QString &key, int fallback)
{
    const QVariant stored = value(key);
    bool ok = false;
    const int number = stored.toInt(&ok);
    return stored.isValid() && ok ? number : fallback;
}

std::optional<QString> stringValue(const QString &key)
{
    const QVariant stored = value(key);
    if (!stored.isValid())
        return std::nullopt;
    return stored.toString();
}

QStringList stringList(const QString &key)
{
    const QVariant stored = value(key);
    // The INI form of a one-element list reads back as a plain string.
    if (stored.typeId() == QMetaType::QString)
        return {stored.toString()};
    return stored.toStringList();
}

} // namespace ClipUserDefaults
