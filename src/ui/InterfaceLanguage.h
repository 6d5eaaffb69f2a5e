#pragma once

#include "store/Settings.h"

#include <QLocale>

// The language of the interface. The program's texts are written in Chinese; an English
// translation is built into the program and used whenever the language is not Chinese (the C
// and POSIX locales included) unless the user chose otherwise. Qt's own texts (the context
// menu of a text field, the buttons of standard dialogs) follow the same language, so that no
// second language appears beside the program's own words.
namespace InterfaceLanguage {

// Whether the interface speaks Chinese for this choice under this locale.
bool isChinese(Settings::Language choice, const QLocale &locale);

// Installs the translations for the choice into the running application, replacing those it
// installed before; false when a translation could not be loaded (its source texts then show).
bool apply(Settings::Language choice, const QLocale &locale = QLocale::system());

} // namespace InterfaceLanguage
