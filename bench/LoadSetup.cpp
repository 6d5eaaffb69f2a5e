#include "LoadSetup.h"

#include <QJsonArray>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace {

// Settings for a load of many devices from one machine: cheap password hashes (sign-in is not
// what is measured), and limits per address that loopback's one address would otherwise hit
// (parallel sign-ins count as failures until they are answered).
QJsonObject loadConfig()
{
    return {{u"argon2_ops"_s, 1},
            {u"argon2_mem_kib"_s, 64},
            {u"registrations_per_address_per_hour"_s, 1000000},
            {u"login_failures_before_delay"_s, 1000000},
            {u"max_connections_per_address"_s, 512},
            {u"max_connections"_s, 2048}};
}

} // namespace

LoadSetup::LoadSetup() = default;
LoadSetup::~LoadSetup() = default;

int LoadSetup::mqttPort() const
{
    return m_server ? m_server->mqttPort() : 0;
}

bool LoadSetup::start(const QString &name)
{
    ServerHarness::Options options;
    options.config = loadConfig();
    if (name != "sqlite"_L1) {
        m_error = u"unknown set-up "_s + name;
        return false;
    }
    m_server = std::make_unique<ServerHarness>();
    if (!m_server->start(options)) {
        m_error = u"the service did not start"_s;
        return false;
    }
    m_origin = m_server->origin();
    return true;
}
