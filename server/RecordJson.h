#pragma once

#include "Storage.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

// Reading and writing clip records in the wire form of the sync protocol, with the limits the
// service enforces on what it stores.
namespace RecordJson {

inline constexpr int kMaxContentChars = 256 * 1024;
inline constexpr int kMaxTypeChars = 64;
inline constexpr int kMaxDeviceNameChars = 256;
inline constexpr int kMaxFileNameChars = 1024;
// Times are Unix seconds; anything beyond this is not a time.
inline constexpr qint64 kMaxTime = 100'000'000'000LL;
inline constexpr qint64 kMaxId = 2'147'483'647LL;

bool isFileHash(const QString &text);

// A JSON number that is a whole number within [min, max]; none otherwise (also for strings).
std::optional<qint64> wholeNumber(const QJsonValue &value, qint64 min, qint64 max);

// Parses {"file_hash", ...}; none with `error` set when a key has the wrong type or size.
std::optional<IncomingRecord> parse(const QJsonValue &value, QString *error);

QJsonObject toJson(const StoredRecord &record);

} // namespace RecordJson
