#include "RecordJson.h"

#include <QRegularExpression>

#include <cmath>

namespace RecordJson {

bool isFileHash(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^[0-9a-f]{32}$"));
    return re.match(text).hasMatch();
}

std::optional<qint64> wholeNumber(const QJsonValue &value, qint64 min, qint64 max)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d) || d < double(min) || d > double(max))
        return std::nullopt;
    // Capture times may carry a fraction; they are kept in whole seconds.
    return static_cast<qint64>(std::trunc(d));
}

namespace {

// A string key: absent or null leaves `out` empty; another type or an over-long text fails.
bool readString(const QJsonObject &o, const char *key, int maxChars, std::optional<QString> *out,
                QString *error)
{
    const QJsonValue value = o.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isString() || value.toString().size() > maxChars) {
        *error = QLatin1String(key) + QStringLiteral(" must be a string of at most ")
                 + QString::number(maxChars) + QStringLiteral(" characters");
        return false;
    }
    *out = value.toString();
    return true;
}

bool readNumber(const QJsonObject &o, const char *key, qint64 min, qint64 max, std::optional<qint64> *out,
                QString *error)
{
    const QJsonValue value = o.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull())
        return true;
    *out = wholeNumber(value, min, max);
    if (!*out) {
        *error = QLatin1String(key) + QStringLiteral(" must be a number between ") + QString::number(min)
                 + QStringLiteral(" and ") + QString::number(max);
        return false;
    }
    return true;
}

} // namespace

std::optional<IncomingRecord> parse(const QJsonValue &value, QString *error)
{
    if (!value.isObject()) {
        *error = QStringLiteral("history must be an object");
        return std::nullopt;
    }
    const QJsonObject o = value.toObject();
    IncomingRecord r;
    const QJsonValue hash = o.value(QStringLiteral("file_hash"));
    if (!hash.isString() || !isFileHash(hash.toString())) {
        *error = QStringLiteral("file_hash must be 32 lower-case hexadecimal digits");
        return std::nullopt;
    }
    r.fileHash = hash.toString();
    std::optional<qint64> fileId;
    if (!readString(o, "content", kMaxContentChars, &r.content, error)
        || !readString(o, "type", kMaxTypeChars, &r.type, error)
        || !readString(o, "device_name", kMaxDeviceNameChars, &r.deviceName, error)
        || !readString(o, "file_name", kMaxFileNameChars, &r.fileName, error)
        || !readNumber(o, "timestamp", 0, kMaxTime, &r.timestamp, error)
        || !readNumber(o, "favourite", -kMaxTime, kMaxTime, &r.favourite, error)
        || !readNumber(o, "history_id", 0, kMaxId, &r.historyId, error)
        || !readNumber(o, "file_id", 0, kMaxId, &fileId, error))
        return std::nullopt;
    // "file_ready" is the service's to decide; it is only checked for its type.
    const QJsonValue ready = o.value(QStringLiteral("file_ready"));
    if (!ready.isUndefined() && !ready.isNull() && !wholeNumber(ready, 0, 1)) {
        *error = QStringLiteral("file_ready must be 0 or 1");
        return std::nullopt;
    }
    return r;
}

QJsonObject toJson(const StoredRecord &r)
{
    QJsonObject o{
        {QStringLiteral("content"), r.content},
        {QStringLiteral("timestamp"), r.timestamp},
        {QStringLiteral("device_name"), r.deviceName},
        {QStringLiteral("file_hash"), r.fileHash},
        {QStringLiteral("type"), r.type},
        {QStringLiteral("history_id"), r.historyId},
        {QStringLiteral("file_id"), r.fileId},
        {QStringLiteral("file_ready"), r.fileReady},
        {QStringLiteral("favourite"), r.favourite},
        {QStringLiteral("file_size"), r.fileSize},
    };
    if (r.fileName)
        o.insert(QStringLiteral("file_name"), *r.fileName);
    return o;
}

} // namespace RecordJson
