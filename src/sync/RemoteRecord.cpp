#include "sync/RemoteRecord.h"

#include "store/PathHelper.h"

#include <QFileInfo>

namespace RemoteRecord {

HistoryModel newRow(const HistoryModel &remote, const QString &category)
{
    HistoryModel row;
    row.category = category;
    row.content = remote.content;
    row.file_hash = remote.file_hash;
    row.file_name = remote.file_name;
    row.timestamp = remote.timestamp;
    row.type = remote.type;
    row.file_ready = remote.file_ready;
    row.file_id = remote.file_id;
    row.history_id = remote.history_id;
    row.device_name = remote.device_name;
    row.favourite = remote.favourite;
    row.local_file_ok = QFileInfo::exists(PathHelper::getBaseFilePath(remote.hash())) ? 1 : 0;
    return row;
}

void takeServiceState(HistoryModel &local, const HistoryModel &remote)
{
    local.file_id = remote.file_id;
    local.file_ready = remote.file_ready;
    local.history_id = remote.history_id;
    local.device_name = remote.device_name;
    if (!remote.file_name.value_or(QString()).isEmpty())
        local.file_name = remote.file_name;
    if (remote.timestamp.value_or(0) > local.timestamp.value_or(0))
        local.timestamp = remote.timestamp;
}

} // namespace RemoteRecord
