#pragma once

#include <QJsonObject>

class SyncEngine;

// What a change notice from another device does to the local history. Main thread only.
namespace MqttNotices {

// A clip deleted elsewhere: its history row and (when no other row uses them) its payload
// files go; a favourite row of the clip stays.
void applyDelete(const QJsonObject &data, SyncEngine &sync);
// The history cleared elsewhere: every row that is not a favourite and is older than the clear.
void applyClear(const QJsonObject &data, SyncEngine &sync);
// A payload uploaded elsewhere: the known row becomes file-ready and the push lane (which hands
// over to the file lane) starts; an unknown clip is fetched from the service first.
void applyUploadFile(const QJsonObject &data, SyncEngine &sync);
// A favourite marked or withdrawn elsewhere ("history" holds the service's record): taken when
// it is the later decision, as a reconciliation takes it. A clip new here arrives as a
// favourite row whose payload the file lane then fetches.
void applyFavourite(const QJsonObject &data, SyncEngine &sync);

} // namespace MqttNotices
