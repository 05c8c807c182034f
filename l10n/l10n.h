// The language of the programs' own messages: Russian under a Russian
// locale (LC_ALL, LC_MESSAGES or LANG naming ru_*), English otherwise. The
// messages are written in English in the code, each once, and looked up in
// the catalogue po/ru.po (the GNU gettext format, compiled to orvane.mo at
// build time). The system's own texts (the log lines of the link, the
// window's captions) are Russian in every language and never pass through
// here.
#pragma once

#include <string>

namespace orvane::l10n {

// Chooses the language and finds the catalogue: $ORVANE_LOCALEDIR, then
// share/locale beside the program's folder, then the build tree's, then the
// installed one. Only the messages category of the C library's locale is
// changed, so numbers and texts are read and written as before.
void SetUp(const char* program_path);
// The same with the language given ("ru" or "en"), whatever the locale says:
// the window speaks Russian.
void SetUpFor(const char* program_path, const char* language);

// The text in the chosen language; the English text itself when the
// catalogue has none.
const char* Tr(const char* english);
// The form for the number n: English singular or plural, Russian one of its
// three forms.
const char* TrN(const char* singular, const char* plural, unsigned long n);

// printf into a string; translations may take the arguments in another
// order (%1$s, %2$d).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace orvane::l10n

// Marks a text for the catalogue where it is stored, to be passed through
// Tr() where it is shown.
#define N_(text) text
