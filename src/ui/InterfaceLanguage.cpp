#include "ui/InterfaceLanguage.h"

#include "support/Log.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

namespace {

// The translators installed last; replaced as a whole when the language changes.
std::unique_ptr<QTranslator> &programTranslator()
{
    static std::unique_ptr<QTranslator> translator;
    return translator;
}

std::unique_ptr<QTranslator> &qtTranslator()
{
    static std::unique_ptr<QTranslator> translator;
    return translator;
}

void remove(std::unique_ptr<QTranslator> &translator)
{
    if (translator)
        QCoreApplication::removeTranslator(translator.get());
    translator.reset();
}

bool install(std::unique_ptr<QTranslator> &slot, const QString &name, const QString &folder)
{
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(name, folder) || !QCoreApplication::installTranslator(translator.get())) {
        qCInfo(lcUi) << "translation" << name << "is not available; its source texts stay";
        return false;
    }
    slot = std::move(translator);
    return true;
}

} // namespace

namespace InterfaceLanguage {

bool isChinese(Settings::Language choice, const QLocale &locale)
{
    switch (choice) {
    case Settings::Language::Chinese:
        return true;
    case Settings::Language::English:
        return false;
    case Settings::Language::System:
        break;
    }
    // The language of messages (LANGUAGE, LC_MESSAGES), not of numbers or dates.
    const QStringList languages = locale.uiLanguages();
    return QLocale(languages.value(0, locale.name())).language() == QLocale::Chinese;
}

bool apply(Settings::Language choice, const QLocale &locale)
{
    remove(programTranslator());
    remove(qtTranslator());
    if (isChinese(choice, locale)) {
        // The program's own texts are Chinese already; only Qt's need a translation.
        return install(qtTranslator(), QStringLiteral("qtbase_zh_CN"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    }
    // Qt's own texts are English already.
    return install(programTranslator(), QStringLiteral("quillet_en"), QStringLiteral(":/i18n"));
}

} // namespace InterfaceLanguage
