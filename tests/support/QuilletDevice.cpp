#include "QuilletDevice.h"

#include "TestFiles.h"
#include "store/SettingsKeys.h"
#include "support/Database.h"

#include <QSettings>
#include <QTest>

using namespace Qt::StringLiterals;

QuilletDevice::QuilletDevice(const QString &program, const QString &deviceToken)
    : m_program(program)
    , m_deviceToken(deviceToken)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&m_process, &QProcess::readyRead, [this] { m_log += m_process.readAll(); });
}

QuilletDevice::~QuilletDevice()
{
    stop();
}

bool QuilletDevice::start(const Service &service, const Account &account, double pollSeconds)
{
    {
        QSettings settings(m_config.filePath(u"Quillet.conf"_s), QSettings::IniFormat);
        settings.setValue(QLatin1String(SettingsKeys::deviceToken), m_deviceToken);
        settings.setValue(QLatin1String(SettingsKeys::loginUserToken), account.userToken);
        settings.setValue(QLatin1String(SettingsKeys::loginUserId), QString::number(account.userId));
        settings.setValue(QLatin1String(SettingsKeys::loginUserEmail), account.email);
        settings.setValue(QLatin1String(SettingsKeys::mqttUserName), account.mqttUser);
        settings.setValue(QLatin1String(SettingsKeys::mqttPassword), account.mqttPassword);
        settings.setValue(QLatin1String(SettingsKeys::CLIP_MONITOR_SPEED), pollSeconds);
        settings.sync();
        if (settings.status() != QSettings::NoError)
            return false;
    }
    if (!m_display.start())
        return false;
    QProcessEnvironment environment = displayEnvironment();
    environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
    environment.insert(u"QUILLET_DATA_DIR"_s, m_data.path());
    environment.insert(u"QUILLET_CONFIG_DIR"_s, m_config.path());
    environment.insert(u"QUILLET_API_URL"_s, service.apiUrl);
    environment.insert(u"QUILLET_MQTT_HOST"_s, u"127.0.0.1"_s);
    environment.insert(u"QUILLET_MQTT_PORT"_s, QString::number(service.mqttPort));
    m_process.setProcessEnvironment(environment);
    m_process.start(m_program, {});
    return m_process.waitForStarted(10000);
}

void QuilletDevice::stop()
{
    endProcess(m_process);
    m_display.stop();
}

bool QuilletDevice::waitForNotices(int timeoutMs)
{
    return QTest::qWaitFor([this] { return log().contains("receiving change notices"); }, timeoutMs);
}

QProcessEnvironment QuilletDevice::displayEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"DISPLAY"_s, m_display.display());
    environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, m_display.busAddress());
    return environment;
}

bool QuilletDevice::chooseFromMenu(const QStringList &keys) const
{
    const auto xdotool = [this](const QStringList &arguments, QByteArray *output = nullptr) {
        QProcess process;
        process.setProcessEnvironment(displayEnvironment());
        process.start(u"xdotool"_s, arguments);
        const bool ok = process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit;
        if (output)
            *output = process.readAllStandardOutput().trimmed();
        return ok;
    };
    // The program's visible windows: the menu and each submenu open are one more.
    const auto visibleWindows = [&] {
        QByteArray ids;
        xdotool({u"search"_s, u"--onlyvisible"_s, u"--classname"_s, u"quillet"_s}, &ids);
        return ids.isEmpty() ? 0 : int(ids.count('\n')) + 1;
    };
    const auto pressAndWaitForWindow = [&](const QString &key) {
        const int before = visibleWindows();
        return xdotool({u"key"_s, key}) && QTest::qWaitFor([&] { return visibleWindows() > before; }, 10000);
    };
    if (!pressAndWaitForWindow(u"super+shift+v"_s))
        return false;
    for (const QString &key : keys) {
        if (key == u"Right"_s ? !pressAndWaitForWindow(key) : !xdotool({u"key"_s, key}))
            return false;
    }
    return true;
}

QList<QuilletDevice::Row> QuilletDevice::rows(const QString &hash) const
{
    Database db(m_data.filePath(u"clipDB.sqlite"_s), Database::Access::ReadOnly);
    const QByteArray sql =
        QByteArray("SELECT file_hash, type, category, local_file_ok, favourite FROM History ")
        + (hash.isEmpty() ? "ORDER BY timeStamp DESC" : "WHERE file_hash = ?");
    SqlQuery query = hash.isEmpty() ? db.query(sql.constData()) : db.query(sql.constData(), {hash});
    QList<Row> rows;
    while (query.next())
        rows << Row{query.text(0).value_or(QString()), query.text(1).value_or(QString()),
                    query.text(2).value_or(QString()), query.int64(3) != 0, query.int32(4)};
    return rows;
}

QByteArray QuilletDevice::payload(const QString &hash) const
{
    return TestFiles::read(m_data.filePath(u"files/"_s + hash));
}

QByteArray QuilletDevice::log()
{
    m_log += m_process.readAll();
    return m_log;
}
