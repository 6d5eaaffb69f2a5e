#include "ui/BrokerAddressField.h"

#include "sync/MqttBroker.h"
#include "ui/Sheets.h"

#include <QCoreApplication>
#include <QLineEdit>

namespace BrokerAddressField {

QLineEdit *create(QWidget *parent)
{
    auto *field = new QLineEdit(parent);
    field->setObjectName(QStringLiteral("brokerField"));
    field->setPlaceholderText(MqttBroker::defaultEndpoint().address());
    if (MqttBroker::isAddressFromEnvironment()) {
        field->setText(MqttBroker::current().address());
        field->setEnabled(false);
        field->setToolTip(
            QCoreApplication::translate("BrokerAddressField", "由环境变量 QUILLET_MQTT_HOST 指定"));
    } else {
        field->setText(MqttBroker::storedAddress());
        field->setToolTip(QCoreApplication::translate(
            "BrokerAddressField", "通知消息服务器的地址，例如 mqtts://sync.example.org:8883；"
                                  "留空则使用同步服务的主机（https 服务用 mqtts 8883 端口）"));
    }
    return field;
}

bool accept(QWidget *parent, QLineEdit *field, Settings &settings)
{
    if (field->isEnabled() && !MqttBroker::setStoredAddress(settings, field->text())) {
        Sheets::beginSheet(parent,
                           {QCoreApplication::translate("BrokerAddressField",
                                                        "消息服务器地址格式存在问题，请输入 mqtt://主机:端口 "
                                                        "或 mqtts://主机:端口 形式的地址"),
                            QString(),
                            {QCoreApplication::translate("BrokerAddressField", "确认")}});
        return false;
    }
    if (field->isEnabled())
        field->setText(MqttBroker::storedAddress());
    return true;
}

} // namespace BrokerAddressField
