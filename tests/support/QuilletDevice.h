#pragma once

#include "XvfbServer.h"

#include <QList>
#include <QTemporaryDir>

// One computer of a sync test: the quillet program with its own data and settings folders,
// its own X server (its own clipboard and hot key) and its own "deviceToken", signed in with
// the account values given and pointed at one sync service and broker. The process and its X
// server end with this object.
class QuilletDevice final
{
public:
    struct Account {
        QString userToken;
        qint64 userId = 0;
        QString email;
        QString mqttUser;
        QString mqttPassword;
    };
    struct Service {
        QString apiUrl;
        int mqttPort = 0;
    };
    // A row of the device's history, read from its database file.
    struct Row {
        QString hash;
        QString type;
        QString category;
        bool localFileOk = false;
        int favourite = 0;
    };

    QuilletDevice(const QString &program, const QString &deviceToken);
    ~QuilletDevice();
    Q_DISABLE_COPY_MOVE(QuilletDevice)

    // Writes the settings (account, device token, poll interval in seconds) and starts the
    // program on a fresh X server. False when either cannot start.
    bool start(const Service &service, const Account &account, double pollSeconds = 0.6);
    void stop();
    // Waits until the program says that it receives the account's change notices.
    bool waitForNotices(int timeoutMs = 30000);

    QString dataPath() const { return m_data.path(); }
    // The environment in which other programs (xclip, xdotool) use this device's display.
    QProcessEnvironment displayEnvironment() const;
    // Opens the menu with the hot key on this device's display and presses the keys there, as
    // xdotool names them ("Down", "Right", "Return"), each once the menu or submenu it acts on
    // is shown.
    bool chooseFromMenu(const QStringList &keys) const;

    // The rows of the device's history, newest first; with a hash, that clip's only.
    QList<Row> rows(const QString &hash = {}) const;
    // The row of this hash, or an empty row (no hash) when there is none.
    Row row(const QString &hash) const { return rows(hash).value(0); }
    // files/HASH, the payload of a clip; empty when missing.
    QByteArray payload(const QString &hash) const;
    // Everything the program wrote to its standard output and error so far.
    QByteArray log();

private:
    QString m_program;
    QString m_deviceToken;
    QTemporaryDir m_data;
    QTemporaryDir m_config;
    XvfbServer m_display;
    QProcess m_process;
    QByteArray m_log;
};
