#pragma once

class QLineEdit;
class Settings;
class QWidget;

// The notice broker's address in the account panes: an "mqtt://HOST:PORT" or
// "mqtts://HOST:PORT" field that shows the stored address (or, greyed out, the one the
// environment decides), with the broker used when it stays empty as its placeholder.
namespace BrokerAddressField {

QLineEdit *create(QWidget *parent);
// Stores the field's address (an empty field removes it). False, with a sheet on `parent` and
// nothing stored, when the address is not valid.
bool accept(QWidget *parent, QLineEdit *field, Settings &settings);

} // namespace BrokerAddressField
