#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a normal quit of the event loop, so that the program
// ends the way it does from its menu: every part torn down by its owner, every worker ended.
// blockInThisProcess() must run before any thread starts (first thing in main), so that no
// thread is left to take the signals' default action; the watcher then reads them from a
// signalfd on the main thread.
class TerminationSignals final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TerminationSignals)

public:
    static void blockInThisProcess();

    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received(int signal);

private:
    void readSignal();

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
};
