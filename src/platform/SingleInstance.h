#pragma once

#include <QLocalServer>
#include <QString>

// Keeps a second Quillet of the same user and data folder from starting: the first instance
// listens on a local socket named after the data folder; a later one finds it answering.
// A socket left behind by a crashed instance does not answer and is taken over.
class SingleInstance final
{
    Q_DISABLE_COPY_MOVE(SingleInstance)

public:
    explicit SingleInstance(const QString &dataFolder);

    // True when this process is now the only instance.
    bool tryAcquire();
    QString socketPath() const { return m_socketPath; }

private:
    QString m_socketPath;
    QLocalServer m_server;
};
