#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

// The per-user preferences: one flat INI file, Quillet.conf, in $QUILLET_CONFIG_DIR when set,
// else in $XDG_CONFIG_HOME/Quillet. Every write reaches the file at once. Safe from any thread.
// The file (0600) and its folder (0700) are its owner's alone: it holds the sign-in token.
namespace ClipUserDefaults {
QString settingsPath();
// Makes the file (0600) and its folder (0700) private to their owner, for a file that an
// earlier version left readable by others; run at every start. Writes keep them so.
void tighten();

bool contains(const QString &key);
QVariant value(const QString &key);
void setValue(const QString &key, const QVariant &value);
void remove(const QString &key);

// Typed readers that return the fallback when the key is absent or its value does not parse.
bool boolValue(const QString &key, bool fallback);
double doubleValue(const QString &key, double fallback);
int intValue(const QString &key, int fallback);
std::optional<QString> stringValue(const QString &key);
QStringList stringList(const QString &key);
} // namespace ClipUserDefaults
