// The manual page and the bash completion against the tool's own help: every
// command and option it knows is in both, the page renders cleanly, and the
// completion completes.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <cctype>
#include <set>
#include <sstream>

#include "cli/commands.h"

namespace orvane::cli {
namespace {

const std::string kSource = ORVANE_CLI_SOURCE_DIR;

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

TEST(Docs, ManualPageAndCompletionKnowEveryCommandAndOptionOfTheHelp) {
  std::string page = ReadText(kSource + "/orvane-cli.1");
  for (std::size_t at; (at = page.find("\\-")) != std::string::npos;) page.erase(at, 1);
  const std::string completion = ReadText(kSource + "/orvane-cli.bash");
  ASSERT_FALSE(page.empty());
  ASSERT_FALSE(completion.empty());
  for (const std::string& word : WordsOfHelp()) {
    EXPECT_NE(page.find(word), std::string::npos) << word << " is missing from the manual page";
    EXPECT_NE(completion.find(word), std::string::npos) << word << " is missing from the completion";
  }
}

TEST(Docs, ManualPageRendersWithoutWarnings) {
  if (!Shell("command -v man >/dev/null")) GTEST_SKIP() << "man is not installed";
  const auto warnings = Shell("LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l '" + kSource + "/orvane-cli.1' 2>&1 >/dev/null");
  ASSERT_TRUE(warnings);
  EXPECT_EQ(*warnings, "");
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
  EXPECT_EQ(complete("orvane-cli history --s"), "--serial --since\n");
  EXPECT_EQ(complete("orvane-cli provision --w"), "--watch\n");
}

}  // namespace
}  // namespace orvane::cli
