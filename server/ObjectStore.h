#pragma once

#include "StoreResult.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Where payload files live. Keys are "<user id>/<file hash>". A stored object is either whole or
// absent: a write that is interrupted leaves nothing under the key.
class ObjectStore
{
public:
    virtual ~ObjectStore() = default;

    // Ok once every byte is on the disk; NoSpace on a full disk, Failed otherwise.
    virtual StoreStatus put(const QString &key, const QByteArray &bytes) = 0;
    virtual std::optional<QByteArray> get(const QString &key) = 0;
    virtual bool remove(const QString &key) = 0;
};
