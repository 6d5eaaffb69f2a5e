#pragma once

#include "sync/SyncLane.h"

// Moves one payload at a time between this computer and the service, newest first: uploads a
// payload only this computer holds, downloads one only the service holds.
class FileService final
{
    Q_DISABLE_COPY_MOVE(FileService)

public:
    static FileService &sharedInstance();

    // Starts the next transfer when signed in and idle; returns at once. Any thread.
    void process();
    void next() { process(); }
    bool isRunning() const { return m_lane.isRunning(); }
    void setIsRunning(bool running) { m_lane.setIsRunning(running); }

private:
    FileService() = default;

    SyncLane m_lane;
};
