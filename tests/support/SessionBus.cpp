#include "SessionBus.h"

#include "XvfbServer.h"

#include <csignal>
#include <sys/prctl.h>

using namespace Qt::StringLiterals;

SessionBus::~SessionBus()
{
    stop();
}

bool SessionBus::start()
{
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
    if (!m_process.waitForStarted(5000))
        return false;
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(10000))
            return false;
    }
    m_address = QString::fromUtf8(m_process.readLine()).trimmed();
    return !m_address.isEmpty();
}

void SessionBus::stop()
{
    endProcess(m_process);
    m_address.clear();
}
