#pragma once

#include <QJsonObject>
#include <QString>

// Change notices to a user's devices: {"protocol": kind, "data": fields} on topic
// "user_id_<id>". Fields always carry "device_token", the device that caused the change.
class Notifier
{
public:
    virtual ~Notifier() = default;
    virtual void publish(qint64 userId, const QString &protocol, const QJsonObject &data) = 0;
};
