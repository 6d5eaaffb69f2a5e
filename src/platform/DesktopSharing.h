#pragma once

#include "platform/SharingServices.h"

// The desktop's own sharing services, offered only when installed: sending by e-mail
// (xdg-email), opening with the default program (xdg-open) and showing the file in the file
// manager (org.freedesktop.FileManager1 on the session bus).
class DesktopSharing final : public SharingServices
{
public:
    QList<ShareService> servicesFor(ShareKind kind) override;
    bool perform(const QString &serviceId, const ShareItem &item) override;
};
