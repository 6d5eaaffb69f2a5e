#include "ui/InterfaceLanguage.h"

#include "support/Log.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace InterfaceLanguage {

bool installQtChinese()
{
    // Lives as long as the application; installed once.
    static QTranslator *translator = nullptr;
    if (translator)
        return true;
    auto *candidate = new QTranslator(QCoreApplication::instance());
    if (!candidate->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        || !QCoreApplication::installTranslator(candidate)) {
        qCInfo(lcUi) << "Qt's Chinese translations are not installed; Qt's own texts stay English";
        delete candidate;
        return false;
    }
    translator = candidate;
    return true;
}

} // namespace InterfaceLanguage
