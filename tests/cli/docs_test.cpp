// The manual pages and the bash completion against the tool's own help: every
// command and option it knows is in the completion and in both pages of
// orvane-cli (English and Russian), each translated page keeps its English
// one's options and examples, the pages render cleanly, and the completion
// completes.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <cctype>
#include <regex>
#include <set>
#include <sstream>
#include <vector>

#include "cli/commands.h"
#include "link/operation_end.h"
#include "serial/link_port.h"

namespace orvane::cli {
namespace {

const std::string kSource = ORVANE_CLI_SOURCE_DIR;
const std::string kProject = ORVANE_PROJECT_SOURCE_DIR;

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Output of a shell command, and whether it ran.
std::optional<std::string> Shell(const std::string& command) {
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string out;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
  if (::pclose(pipe) != 0) return std::nullopt;
  return out;
}

// Every "--name" of the help, and every command.
std::set<std::string> WordsOfHelp() {
  std::set<std::string> words;
  const std::string usage = UsageText();
  for (std::size_t at = 0; (at = usage.find("--", at)) != std::string::npos;) {
    std::size_t end = at + 2;
    while (end < usage.size() && (std::islower(static_cast<unsigned char>(usage[end])) || usage[end] == '-')) ++end;
    if (end > at + 2) words.insert(usage.substr(at, end - at));
    at = end;
  }
  for (const char* command :
       {"ports", "status", "put", "delete", "erase", "flash", "verify", "constants", "provision", "history"}) {
    EXPECT_NE(usage.find("\n  " + std::string(command) + " "), std::string::npos) << command;
    words.insert(command);
  }
  return words;
}

// The roff source with "\\-" as the "-" it prints.
std::string PageText(const std::string& path) {
  std::string page = ReadText(path);
  for (std::size_t at; (at = page.find("\\-")) != std::string::npos;) page.erase(at, 1);
  return page;
}

// Every "--name" of a page's source.
std::set<std::string> OptionsOfPage(const std::string& page) {
  std::set<std::string> options;
  const std::regex option("--[a-z][a-z-]*[a-z]");
  for (auto it = std::sregex_iterator(page.begin(), page.end(), option); it != std::sregex_iterator(); ++it) {
    options.insert(it->str());
  }
  return options;
}

// The lines of every .nf ... .fi block: the examples, copied as they are.
std::vector<std::string> ExamplesOfPage(const std::string& page) {
  std::vector<std::string> lines;
  std::istringstream in(page);
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    if (line == ".nf" || line == ".fi") {
      inside = line == ".nf";
    } else if (inside) {
      lines.push_back(line);
    }
  }
  return lines;
}

// The page as man shows it at 80 columns, and what it warned about.
struct Rendered {
  std::string text, warnings;
};

std::optional<Rendered> Render(const std::string& path) {
  const std::string man = "LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l '" + path + "' ";
  const auto warnings = Shell(man + "2>&1 >/dev/null");
  const auto text = Shell(man + "2>/dev/null");
  if (!warnings || !text) return std::nullopt;
  return Rendered{*text, *warnings};
}

// Runs of spaces and line ends as one space, as a sentence reads.
std::string OneSpaced(const std::string& text) {
  return std::regex_replace(text, std::regex("\\s+"), " ");
}

// A page's path as a test name: "cli/orvane-cli.ru.1" as "cli_orvane_cli_ru_1".
std::string TestNameOf(std::string path) {
  for (char& c : path) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return path;
}

std::string FileNameOf(const testing::TestParamInfo<const char*>& info) { return TestNameOf(info.param); }

class CliManualPage : public testing::TestWithParam<const char*> {};

TEST_P(CliManualPage, KnowsEveryCommandAndOptionOfTheHelp) {
  const std::string page = PageText(kSource + "/" + GetParam());
  ASSERT_FALSE(page.empty());
  for (const std::string& word : WordsOfHelp()) {
    EXPECT_NE(page.find(word), std::string::npos) << word << " is missing from " << GetParam();
  }
}

INSTANTIATE_TEST_SUITE_P(Docs, CliManualPage, testing::Values("orvane-cli.1", "orvane-cli.ru.1"), FileNameOf);

TEST(Docs, CompletionKnowsEveryCommandAndOptionOfTheHelp) {
  const std::string completion = ReadText(kSource + "/orvane-cli.bash");
  ASSERT_FALSE(completion.empty());
  for (const std::string& word : WordsOfHelp()) {
    EXPECT_NE(completion.find(word), std::string::npos) << word << " is missing from the completion";
  }
}

// Every page, English or translated, relative to the source tree, with the
// heading its DESCRIPTION has in its language: seen in the rendered text, it
// shows the page was read in the right encoding.
struct Page {
  const char* path;
  const char* description;
};

void PrintTo(const Page& page, std::ostream* out) { *out << page.path; }

class ManualPage : public testing::TestWithParam<Page> {};

TEST_P(ManualPage, RendersWithoutWarnings) {
  if (!Shell("command -v man >/dev/null")) GTEST_SKIP() << "man is not installed";
  const auto rendered = Render(kProject + "/" + GetParam().path);
  ASSERT_TRUE(rendered);
  EXPECT_EQ(rendered->warnings, "");
  EXPECT_NE(rendered->text.find(std::string("\n") + GetParam().description + "\n"), std::string::npos)
      << rendered->text;
}

INSTANTIATE_TEST_SUITE_P(Docs, ManualPage,
                         testing::Values(Page{"cli/orvane-cli.1", "DESCRIPTION"},
                                         Page{"cli/orvane-cli.ru.1", "ОПИСАНИЕ"},
                                         Page{"sim/orvane-sim.1", "DESCRIPTION"},
                                         Page{"sim/orvane-sim.ru.1", "ОПИСАНИЕ"}),
                         [](const testing::TestParamInfo<Page>& info) { return TestNameOf(info.param.path); });

// A translated page says what its English page says: the same options, the
// same sections, the same examples.
class TranslatedPage : public testing::TestWithParam<const char*> {};

TEST_P(TranslatedPage, KeepsTheOptionsSectionsAndExamplesOfTheEnglishPage) {
  const std::string english_path = kProject + "/" + GetParam();
  const std::string russian_path = std::regex_replace(english_path, std::regex("\\.1$"), ".ru.1");
  const std::string english = PageText(english_path), russian = PageText(russian_path);
  ASSERT_FALSE(english.empty());
  ASSERT_FALSE(russian.empty()) << russian_path;
  EXPECT_EQ(OptionsOfPage(russian), OptionsOfPage(english));
  auto sections = [](const std::string& page) {
    const std::regex heading("(^|\n)\\.SH ");
    return std::distance(std::sregex_iterator(page.begin(), page.end(), heading), std::sregex_iterator());
  };
  EXPECT_EQ(sections(russian), sections(english));
  EXPECT_EQ(ExamplesOfPage(russian), ExamplesOfPage(english));
}

INSTANTIATE_TEST_SUITE_P(Docs, TranslatedPage, testing::Values("cli/orvane-cli.1", "sim/orvane-sim.1"), FileNameOf);

// The log lines the Russian page quotes are those the tool writes, word for
// word.
TEST(Docs, RussianPageQuotesTheLogLinesAsTheToolWritesThem) {
  if (!Shell("command -v man >/dev/null")) GTEST_SKIP() << "man is not installed";
  const auto rendered = Render(kSource + "/orvane-cli.ru.1");
  ASSERT_TRUE(rendered);
  const std::string text = OneSpaced(rendered->text);
  for (const char* line : {serial::kLogPortFailed, link::kLogProgramIncomplete, link::kLogFileIncomplete}) {
    EXPECT_NE(text.find(std::string("«") + line + "»"), std::string::npos) << line;
  }
}

TEST(Docs, CompletionOffersCommandsPortsAndTheOptionsOfTheCommand) {
  const std::string script = "source '" + kSource + "/orvane-cli.bash'; "
                             "t() { COMP_WORDS=(\"$@\"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _orvane_cli; "
                             "echo \"${COMPREPLY[*]}\"; }; ";
  auto complete = [&](const std::string& words) { return Shell("bash -c '" + script + "t " + words + "'"); };
  EXPECT_EQ(complete("orvane-cli \"\""), "ports status put delete erase flash verify constants provision history\n");
  EXPECT_EQ(complete("orvane-cli --json ve"), "verify\n");
  EXPECT_EQ(complete("orvane-cli --port a"), "all\n");
  EXPECT_EQ(complete("orvane-cli constants --ser"), "--serial --serial-from\n");
  EXPECT_EQ(complete("orvane-cli status --su"), "\n") << "--summer belongs to constants";
  EXPECT_EQ(complete("orvane-cli history --s"), "--serial --since --station\n");
  EXPECT_EQ(complete("orvane-cli history --result f"), "failed\n");
  EXPECT_EQ(complete("orvane-cli provision --w"), "--watch\n");
}

}  // namespace
}  // namespace orvane::cli
