#pragma once

#include "store/ClipFamily.h"
#include "store/DBObject.h"

#include <QJsonObject>
#include <QMetaType>
#include <QString>

#include <optional>

class SqlQuery;

namespace Category {
inline const QString history = QStringLiteral("history");
inline const QString favourite = QStringLiteral("favourite");
} // namespace Category

// One clip: a row of the History table and an object of the sync protocol. The clip's full
// payload lives in files named by file_hash; the record holds a short display text and
// metadata. A row is identified by (file_hash, category). Every field may be absent.
class HistoryModel final : public DBObject
{
public:
    // A new record: type "text_txt", this computer's name, category "history", zero flags.
    HistoryModel();

    std::optional<QString> content;
    std::optional<qint64> timestamp;
    std::optional<QString> device_name;
    std::optional<QString> file_hash;
    std::optional<QString> type;
    std::optional<int> history_id;
    std::optional<int> file_id;
    std::optional<int> file_ready;
    std::optional<QString> file_name;
    std::optional<double> change_timestamp;
    std::optional<int> local_file_ok;
    std::optional<double> file_size;
    std::optional<bool> secret; // the column "secert"
    std::optional<QString> category;
    std::optional<qint64> favourite;

    // The device name as it is stored and sent: the empty string when absent.
    QString deviceName() const { return device_name.value_or(QString()); }
    QString hash() const { return file_hash.value_or(QString()); }
    QString categoryName() const { return category.value_or(QString()); }
    QString typeName() const { return type.value_or(QString()); }
    ClipFamily family() const { return clipFamilyOfType(typeName()); }
    bool isSecret() const { return secret.value_or(false); }
    bool isFavourite() const { return favourite.value_or(0) > 0; }

    // A record read from the current row of a "select *" on History.
    static HistoryModel getObjectFrom(const SqlQuery &row);

    // The sync protocol's object: absent fields are left out, "device_name" is always there.
    QJsonObject toJson() const;
    // A record from a JSON object; no record when the value is not an object.
    static std::optional<HistoryModel> fromJson(const QJsonValue &value);

    // Upsert by key: an existing row keeps its change mark, secret flag and category.
    void save() override;
    // Loads the stored row into this record, keeping a change mark already held.
    void fetch() override;
    void del() override;
    bool isExist() const override;

    // Marks the clip secret (or not) in every category; this record is left unchanged.
    void signSecret(bool secret) const;
    // Marks the row as changed locally now, so that it is pushed.
    void increase_change_count();
    // Clears the change mark only when nobody changed the row since this record was read.
    void return_to_zero_change_count() const;

private:
    void readRow(const SqlQuery &row, bool keepChangeMark);
};

Q_DECLARE_METATYPE(HistoryModel)
