#pragma once

#include <QIcon>
#include <QList>
#include <QString>

// One way of handing a clip to another program (mail, the default program, the file manager).
struct ShareService {
    QString id;
    QString title;
    QIcon icon;
};

// What a service is asked to share: a text, or a local file.
enum class ShareKind { Text, File };

// What is shared: the text of a text clip, or a local file (an image clip's picture, a file clip).
struct ShareItem {
    QString text;
    QString filePath;
};

// The sharing services that are installed on this computer.
class SharingServices
{
public:
    virtual ~SharingServices() = default;

    // The services that can share a text or a file, in the order they are offered.
    virtual QList<ShareService> servicesFor(ShareKind kind) = 0;
    // False when the service is unknown or could not be started.
    virtual bool perform(const QString &serviceId, const ShareItem &item) = 0;
};
