#pragma once

#include <QString>

// Identity of this computer as the user sees it.
namespace HostInfo {
// The pretty host name of /etc/machine-info, else the host name: the default device name of a
// clip captured here.
QString localizedName();
// Parses the PRETTY_HOSTNAME of a machine-info file's text; empty when it has none.
QString prettyHostNameFromMachineInfo(const QString &machineInfo);
} // namespace HostInfo
