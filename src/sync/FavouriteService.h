#pragma once

#include "sync/SyncLane.h"

// Pushes the favourite rows changed on this computer, newest first, one request at a time; a
// clip the service does not know yet is posted as a clip first.
class FavouriteService final
{
    Q_DISABLE_COPY_MOVE(FavouriteService)

public:
    static FavouriteService &sharedInstance();

    // Starts the next push when signed in and idle; returns at once. Any thread.
    void process();
    bool isRunning() const { return m_lane.isRunning(); }
    void setIsRunning(bool running) { m_lane.setIsRunning(running); }

private:
    FavouriteService() = default;

    SyncLane m_lane;
};
