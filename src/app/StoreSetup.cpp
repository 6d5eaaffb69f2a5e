#include "app/StoreSetup.h"

#include "store/ClipUserDefaults.h"
#include "store/DBFetcher.h"
#include "store/DBKeeper.h"
#include "store/PathHelper.h"

namespace StoreSetup {

QString prepare()
{
    PathHelper::getBaseFilePath();
    PathHelper::getZipsFilePath();
    PathHelper::getPreviewsFilePath();
    // Reading the newest clips is the first use of the store: it opens the database and
    // brings its schema up to date.
    const auto newest = DBKeeper::getAllHistory();
    return QStringLiteral("data folder %1\nsettings %2\ndatabase %3 (%4 recent clips)")
        .arg(PathHelper::dataFolder(), ClipUserDefaults::settingsPath(), DBFetcher::databasePath())
        .arg(newest.size());
}

} // namespace StoreSetup
