#pragma once

#include "ServerHarness.h"

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// The service set-ups the load bench compares, on loopback: "sqlite" (one service process on
// its embedded storage), "pg" (one process on PostgreSQL) and "pg2" (two processes on one
// PostgreSQL and one broker, behind HAProxy with server/examples/haproxy.cfg).
class LoadSetup final
{
public:
    LoadSetup();
    ~LoadSetup();

    bool start(const QString &name);
    QString error() const { return m_error; }
    // Where devices send their requests: the service, or the load balancer in front of two.
    QString origin() const { return m_origin; }
    int mqttPort() const;

private:
    bool startProxy();

    QTemporaryDir m_dir;
    std::unique_ptr<ServerHarness> m_server;
    std::unique_ptr<QProcess> m_proxy;
    QString m_origin;
    QString m_error;
};
