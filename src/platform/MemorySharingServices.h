#pragma once

#include "platform/SharingServices.h"

#include <utility>

// Offers a fixed list of services and records what was shared, for tests.
class MemorySharingServices final : public SharingServices
{
public:
    explicit MemorySharingServices(QList<ShareService> services = {})
        : m_services(std::move(services))
    { }

    QList<ShareService> servicesFor(ShareKind) override { return m_services; }
    bool perform(const QString &serviceId, const ShareItem &item) override
    {
        m_performed.append({serviceId, item});
        return true;
    }

    const QList<std::pair<QString, ShareItem>> &performed() const { return m_performed; }

private:
    QList<ShareService> m_services;
    QList<std::pair<QString, ShareItem>> m_performed;
};
