#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

// The per-user preferences: one flat INI file, Quillet.conf, in $QUILLET_CONFIG_DIR when set,
// else in $XDG_CONFIG_HOME/Quillet. Every write reaches the file at once. Safe from any thread.
namespace ClipUserDefaults {
QString settingsPath();

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
