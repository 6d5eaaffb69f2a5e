#pragma once

#include "TestSync.h"
#include "platform/UrlOpener.h"
#include "plugins/PluginManager.h"
#include "sync/ClipPluginPackageHelper.h"
#include "ui/PluginWindowController.h"

#include <QCoreApplication>
#include <QList>
#include <QUrl>

// The plugin window of a test with the parts the program gives it, made on first use and kept,
// as the program's is, until the process ends. The URLs it opens are recorded, not opened.
struct PluginParts {
    QList<QUrl> opened;
    UrlOpener urlOpener{QCoreApplication::instance(), [this](const QUrl &url) { opened << url; }};
    PluginManager plugins{urlOpener};
    ClipPluginPackageHelper packages{testSync(), plugins};
    PluginWindowController window{packages, urlOpener};
};

inline PluginParts &pluginParts()
{
    static auto *instance = new PluginParts;
    return *instance;
}
