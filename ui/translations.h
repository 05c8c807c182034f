// The toolkit's own texts in Russian: the buttons of message boxes, the open
// dialog, the edit menus. Qt ships the translations (Debian package
// qt6-translations-l10n); the window's own texts are Russian already.
#pragma once

class QTranslator;

namespace orvane::ui {

// Loads the toolkit's Russian catalogue into the running application.
// Returns the installed translator, owned by the application; when the
// catalogue is missing, nullptr, and the toolkit's texts stay English.
// (Sizes and dates in the open dialog follow the system's locale.)
QTranslator* InstallToolkitTranslations();

}  // namespace orvane::ui
