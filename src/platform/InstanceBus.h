#pragma once

#include <QObject>
#include <QString>

// The running instance's commands on the session bus, so that a second start (`quillet --menu`,
// `quillet --history`) or a desktop shortcut can ask the running program to show its menu or
// its history window. Like SingleInstance, the name belongs to one data folder: two users, or
// two test instances, on one bus do not reach each other.
//
// Service "org.quillet.Quillet.d<id>", object "/org/quillet/Quillet", interface
// "org.quillet.Quillet", methods ShowMenu() and ShowHistory().
class InstanceBus final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.quillet.Quillet")
    Q_DISABLE_COPY_MOVE(InstanceBus)

public:
    explicit InstanceBus(const QString &dataFolder, QObject *parent = nullptr);
    ~InstanceBus() override;

    // Takes the name on the session bus; false without a bus or when another holds it.
    bool publish();

    // From a second start: asks the instance of the data folder to show its menu or its history
    // window; false when no instance answered.
    enum class Command { ShowMenu, ShowHistory };
    static bool send(const QString &dataFolder, Command command);

    static QString serviceName(const QString &dataFolder);

public slots:
    Q_SCRIPTABLE void ShowMenu();
    Q_SCRIPTABLE void ShowHistory();

signals:
    void menuRequested();
    void historyRequested();

private:
    QString m_service;
    bool m_published = false;
};
