// What the operator reads in either language: the tool's refusals with the
// system's reason and the limits, and its own confirmation question.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "cli/console.h"
#include "cli/input_checks.h"
#include "cli/signals.h"
#include "device/session.h"
#include "l10n/l10n.h"

namespace orvane::cli {
namespace {

namespace fs = std::filesystem;

std::string FileOfSize(const fs::path& path, std::uintmax_t size) {
  std::ofstream{path};
  fs::resize_file(path, size);
  return path.string();
}

std::string Refusal(Command command, const std::string& path) {
  Options options;
  options.command = command;
  options.path = path;
  return CheckFileToSend(options).value_or("");
}

// The question as the terminal shows it, and the answer read.
std::string Asked(const char* answer) {
  char* shown = nullptr;
  std::size_t size = 0;
  std::FILE* err = ::open_memstream(&shown, &size);
  std::FILE* in = ::fmemopen(const_cast<char*>(answer), std::strlen(answer), "r");
  const bool yes = AskOnTerminal(device::kReflashWarning, {.err = err, .in = in});
  std::fclose(in);
  std::fclose(err);
  std::string text(shown, size);
  std::free(shown);
  return text + (yes ? "<yes>" : "<no>");
}

// The process keeps the C locale's character type, as when the Russian
// locale asked for was never generated: the system's texts must still come
// out in Cyrillic.
TEST(Messages, EachInTheOperatorsLanguage) {
  const fs::path folder = fs::temp_directory_path() / ("orvane-messages-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const std::string largest = FileOfSize(folder / "largest.mts", device::kFirmwareLimit - 1);
  const std::string over = FileOfSize(folder / "over.mts", device::kFirmwareLimit);
  const std::string missing = (folder / "plan.yp1").string();

  const std::tuple<const char*, std::function<std::string()>, std::string> table[] = {
      {"en", [&] { return Refusal(Command::kPut, missing); },
       "cannot read \"" + missing + "\": No such file or directory"},
      {"ru", [&] { return Refusal(Command::kPut, missing); },
       "не удается прочитать «" + missing + "»: Нет такого файла или каталога"},
      {"en", [&] { return Refusal(Command::kFlash, over); },
       "Файл слишком большой! (\"" + over + "\" has 65536 bytes; the largest image is 65535 bytes)"},
      {"ru", [&] { return Refusal(Command::kVerify, over); },
       "Файл слишком большой! (в «" + over + "» 65536 байт; самый большой образ — 65535 байт)"},
      {"en", [&] { return Refusal(Command::kFlash, largest); }, ""},
      {"en", [] { return Asked("y\n"); },
       "Все данные в пульте будут утеряны!\nПодтвердите операцию\nGo on? [y/N] <yes>"},
      {"ru", [] { return Asked("да\n"); }, "Все данные в пульте будут утеряны!\nПодтвердите операцию [д/Н] <yes>"},
  };
  for (const auto& [language, said, expected] : table) {
    l10n::SetUpFor(nullptr, language);
    EXPECT_EQ(said(), expected) << language;
  }
  l10n::SetUpFor(nullptr, "en");
  fs::remove_all(folder);
}

// The name a stop's reason gives its signal, as the shell's kill names it.
TEST(Messages, SignalsByTheirNames) {
  const std::pair<int, const char*> cases[] = {
      {SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}, {SIGKILL, "SIGKILL"}, {0, "signal 0"}};
  for (const auto& [signal, name] : cases) EXPECT_EQ(SignalName(signal), name);
}

}  // namespace
}  // namespace orvane::cli
