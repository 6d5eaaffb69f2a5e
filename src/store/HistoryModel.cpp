#include "store/HistoryModel.h"

#include "platform/HostInfo.h"
#include "support/Clock.h"
#include "support/Database.h"
#include "support/Log.h"

#include <QJsonValue>

#include <cmath>

HistoryModel::HistoryModel()
    : device_name(HostInfo::localizedName())
    , type(QStringLiteral("text_txt"))
    , file_ready(0)
    , local_file_ok(0)
    , file_size(0.0)
    , secret(false)
    , category(Category::history)
    , favourite(0)
{ }

void HistoryModel::readRow(const SqlQuery &row, bool keepChangeMark)
{
    content = row.text(row.columnIndex("content"));
    timestamp = row.int64(row.columnIndex("timeStamp"));
    device_name = row.text(row.columnIndex("deviceName"));
    file_hash = row.text(row.columnIndex("file_hash"));
    type = row.text(row.columnIndex("type"));
    history_id = row.int32(row.columnIndex("history_id"));
    file_id = row.int32(row.columnIndex("file_id"));
    file_ready = row.int32(row.columnIndex("file_ready"));
    file_name = row.text(row.columnIndex("file_name"));
    if (keepChangeMark && change_timestamp)
        change_timestamp = std::trunc(*change_timestamp);
    else
        change_timestamp = row.int32(row.columnIndex("change_timestamp"));
    local_file_ok = row.int32(row.columnIndex("local_file_ok"));
    file_size = row.real(row.columnIndex("file_size"));
    secret = row.int64(row.columnIndex("secert")) != 0;
    category = row.text(row.columnIndex("category"));
    favourite = row.int64(row.columnIndex("favourite"));
}

HistoryModel HistoryModel::getObjectFrom(const SqlQuery &row)
{
    HistoryModel record;
    record.readRow(row, false);
    return record;
}

namespace {

template<typename T> void putNumber(QJsonObject &object, const char *key, const std::optional<T> &value)
{
    if (value)
        object.insert(QLatin1String(key), static_cast<double>(*value));
}

void putString(QJsonObject &object, const char *key, const std::optional<QString> &value)
{
    if (value)
        object.insert(QLatin1String(key), *value);
}

// A key that is missing leaves the field as it is; JSON null makes it absent. Numbers may
// also arrive as strings of digits.
template<typename T> void takeNumber(const QJsonObject &object, const char *key, std::optional<T> &field)
{
    const auto it = object.constFind(QLatin1String(key));
    if (it == object.constEnd())
        return;
    const QJsonValue value = *it;
    if (value.isDouble()) {
        field = static_cast<T>(value.toDouble());
    } else if (value.isString()) {
        bool ok = false;
        const qint64 number = value.toString().trimmed().toLongLong(&ok);
        field = ok ? std::optional<T>(static_cast<T>(number)) : std::nullopt;
    } else if (value.isBool()) {
        field = static_cast<T>(value.toBool());
    } else {
        field = std::nullopt;
    }
}

void takeString(const QJsonObject &object, const char *key, std::optional<QString> &field)
{
    const auto it = object.constFind(QLatin1String(key));
    if (it == object.constEnd())
        return;
    const QJsonValue value = *it;
    if (value.isString())
        field = value.toString();
    else if (value.isDouble())
        field = QString::number(value.toDouble(), 'g', 17);
    else
        field = std::nullopt;
}

} // namespace

QJsonObject HistoryModel::toJson() const
{
    QJsonObject object;
    putString(object, "content", content);
    putNumber(object, "timestamp", timestamp);
    object.insert(QLatin1String("device_name"), deviceName());
    putString(object, "file_hash", file_hash);
    putString(object, "type", type);
    putNumber(object, "history_id", history_id);
    putNumber(object, "file_id", file_id);
    putNumber(object, "file_ready", file_ready);
    putString(object, "file_name", file_name);
    putNumber(object, "favourite", favourite);
    return object;
}

std::optional<HistoryModel> HistoryModel::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    HistoryModel record;
    takeString(object, "content", record.content);
    takeNumber(object, "timestamp", record.timestamp);
    takeString(object, "device_name", record.device_name);
    takeString(object, "file_hash", record.file_hash);
    takeString(object, "type", record.type);
    takeNumber(object, "history_id", record.history_id);
    takeNumber(object, "file_id", record.file_id);
    takeNumber(object, "file_ready", record.file_ready);
    takeString(object, "file_name", record.file_name);
    takeNumber(object, "favourite", record.favourite);
    return record;
}

void HistoryModel::save()
{
    inDatabase([this](Database &db) {
        qint64 count = 0;
        {
            SqlQuery rows =
                db.query("select count(file_hash) from History where file_hash = ? and category = ?;",
                         {sqlValue(file_hash), sqlValue(category)});
            if (rows.next())
                count = rows.int64(0);
        }
        if (count != 0) {
            db.exec("update History set content = ?, timeStamp = ?, deviceName = ?, file_hash = ?, type = ?, "
                    "history_id = ?, file_id = ?, file_ready = ?, file_name = ?, local_file_ok= ?, "
                    "file_size = ?, favourite = ? where file_hash = ? and category = ?;",
                    {sqlValue(content), sqlValue(timestamp), deviceName(), sqlValue(file_hash),
                     sqlValue(type), sqlValue(history_id), sqlValue(file_id), sqlValue(file_ready),
                     sqlValue(file_name), sqlValue(local_file_ok), sqlValue(file_size), sqlValue(favourite),
                     sqlValue(file_hash), sqlValue(category)});
            return;
        }
        const bool inserted = db.exec(
            "replace into History (content, timeStamp, deviceName, file_hash, type, history_id, file_id, "
            "file_ready, file_name, change_timestamp, local_file_ok, file_size, secert, category, favourite) "
            "values (?,?,?,?,?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?);",
            {sqlValue(content), sqlValue(timestamp), deviceName(), sqlValue(file_hash), sqlValue(type),
             sqlValue(history_id), sqlValue(file_id), sqlValue(file_ready), sqlValue(file_name),
             sqlValue(change_timestamp), sqlValue(local_file_ok), sqlValue(file_size), sqlValue(secret),
             sqlValue(category), sqlValue(favourite)});
        if (!inserted)
            qCWarning(lcStore) << "error";
    });
}

bool HistoryModel::isExist() const
{
    bool exists = false;
    inDatabase([&](Database &db) {
        SqlQuery rows = db.query("select count(file_hash) from History where file_hash = ? and category = ?;",
                                 {sqlValue(file_hash), sqlValue(category)});
        exists = rows.next() && rows.int64(0) > 0;
    });
    return exists;
}

void HistoryModel::fetch()
{
    inDatabase([this](Database &db) {
        SqlQuery rows = db.query("select * from History where file_hash = ? and category = ?;",
                                 {sqlValue(file_hash), sqlValue(category)});
        if (rows.next())
            readRow(rows, true);
    });
}

void HistoryModel::del()
{
    inDatabase([this](Database &db) {
        db.exec("delete from History where file_hash is ? and category is ?",
                {sqlValue(file_hash), sqlValue(category)});
    });
}

void HistoryModel::signSecret(bool secret) const
{
    inDatabase([&](Database &db) {
        db.exec("UPDATE History SET secert = ? where file_hash is ?",
                {qint64(secret ? 1 : 0), sqlValue(file_hash)});
    });
}

void HistoryModel::increase_change_count()
{
    change_timestamp = Clock::nowSeconds();
    inDatabase([this](Database &db) {
        db.exec("UPDATE History SET change_timestamp = ? where file_hash is ? and category is ?",
                {sqlValue(change_timestamp), sqlValue(file_hash), sqlValue(category)});
    });
}

void HistoryModel::return_to_zero_change_count() const
{
    inDatabase([this](Database &db) {
        int stored = 0;
        {
            SqlQuery rows =
                db.query("select change_timestamp from history where file_hash is ? and category is ?",
                         {sqlValue(file_hash), sqlValue(category)});
            if (rows.next())
                stored = rows.int32(0);
        }
        const auto mine = static_cast<qint64>(std::trunc(change_timestamp.value_or(0)));
        if (stored == mine)
            db.exec("UPDATE History SET change_timestamp = 0 where file_hash is ? and category is ?",
                    {sqlValue(file_hash), sqlValue(category)});
    });
}
