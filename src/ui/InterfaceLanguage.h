#pragma once

// The interface speaks Chinese throughout: Qt's own texts (the context menu of a text field,
// the buttons of standard dialogs) are switched to their Chinese translations too, so no
// English appears beside the program's own words.
namespace InterfaceLanguage {

// Loads Qt's Simplified Chinese translations into the running application; false (with the
// English texts left) when they are not installed.
bool installQtChinese();

} // namespace InterfaceLanguage
