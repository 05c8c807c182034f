#include "l10n/l10n.h"

#include <libintl.h>
#include <locale.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <string_view>

namespace orvane::l10n {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDomain = "orvane";

// The first of LC_ALL, LC_MESSAGES and LANG that is set, as the C library
// reads them.
std::string_view LocaleName() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return "";
}

bool HasCatalogue(const fs::path& folder) {
  std::error_code error;
  return fs::exists(folder / "ru" / "LC_MESSAGES" / (std::string(kDomain) + ".mo"), error);
}

std::string CatalogueFolder(const char* program_path) {
  if (const char* given = std::getenv("ORVANE_LOCALEDIR"); given && *given) return given;
  std::error_code error;
  const fs::path program = fs::canonical("/proc/self/exe", error);
  const fs::path beside = (error ? fs::path(program_path ? program_path : "") : program).parent_path().parent_path() /
                          "share" / "locale";
  if (HasCatalogue(beside)) return beside.string();
  if (HasCatalogue(ORVANE_BUILD_LOCALEDIR)) return ORVANE_BUILD_LOCALEDIR;
  return ORVANE_INSTALL_LOCALEDIR;
}

// The catalogue is chosen by LANGUAGE, which the C library honours for any
// messages locale but "C": a Russian locale that was never generated on
// this system still gives Russian messages.
void Choose(const char* program_path, std::string_view language) {
  if (!::setlocale(LC_MESSAGES, "")) ::setlocale(LC_MESSAGES, "C.UTF-8");
  if (language == "ru") {
    if (!::setlocale(LC_MESSAGES, nullptr) || std::string_view(::setlocale(LC_MESSAGES, nullptr)) == "C") {
      ::setlocale(LC_MESSAGES, "C.UTF-8");
    }
    ::setenv("LANGUAGE", "ru", 1);
  } else {
    ::setenv("LANGUAGE", "en", 1);
  }
  ::bindtextdomain(kDomain, CatalogueFolder(program_path).c_str());
  ::bind_textdomain_codeset(kDomain, "UTF-8");
  // strerror's texts come from the C library's own catalogue, converted to
  // LC_CTYPE's charset: ASCII (transliterated) when the locale asked for was
  // never generated.
  ::bind_textdomain_codeset("libc", "UTF-8");
}

}  // namespace

void SetUp(const char* program_path) {
  Choose(program_path, LocaleName().starts_with("ru") ? "ru" : "en");
}

void SetUpFor(const char* program_path, const char* language) { Choose(program_path, language); }

const char* Tr(const char* english) { return ::dgettext(kDomain, english); }

const char* TrN(const char* singular, const char* plural, unsigned long n) {
  return ::dngettext(kDomain, singular, plural, n);
}

std::string Format(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list again;
  va_copy(again, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, arguments);
  va_end(arguments);
  std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return text;
}

}  // namespace orvane::l10n
