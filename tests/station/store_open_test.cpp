// How provision opens its record store: a missing one is made only with
// --new-records or a yes on a terminal, never by --yes nor in a child.
#include "cli/store_open.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "tests/station/test_database.h"

namespace orvane::cli {
namespace {

using ::testing::HasSubstr;
using station::Backend;
using station::TestDatabase;

std::string ReadAll(std::FILE* file) {
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  return text;
}

TEST(OpenStationStore, MakesAMissingStoreOnlyWhenTheOperatorSaysSo) {
  struct Case {
    const char* what;
    bool new_records, yes, terminal, child;
    const char* answer;
    bool created, asked;
  };
  const Case cases[] = {
      {"--new-records", true, false, false, false, "", true, false},
      {"nothing said, no terminal", false, false, false, false, "", false, false},
      {"--yes is not that yes", false, true, false, false, "", false, false},
      {"a yes on the terminal", false, false, true, false, "y\n", true, true},
      {"a Russian yes on the terminal", false, true, true, false, "да\n", true, true},
      {"a no on the terminal", false, false, true, false, "n\n", false, true},
      {"no answer at all", false, true, true, false, "", false, true},
      {"a child never asks", false, true, true, true, "y\n", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestDatabase folder(Backend::kSqlite);
    Options options;
    options.db = folder.location();
    options.new_records = c.new_records;
    options.yes = c.yes;
    if (c.child) options.result_fd = 3;
    std::string answer = c.answer;
    std::FILE* in = answer.empty() ? std::tmpfile() : ::fmemopen(answer.data(), answer.size(), "r");
    std::FILE* err = std::tmpfile();
    ASSERT_TRUE(in && err);
    Console console{stdout, err, in, false, false, c.terminal};
    const auto store = OpenStationStore(options, console);
    const std::string said = ReadAll(err);
    std::fclose(in);
    std::fclose(err);
    EXPECT_EQ(static_cast<bool>(store), c.created) << store.error;
    EXPECT_EQ(std::filesystem::exists(folder.location()), c.created);
    const bool asked = said.find("create a new record store at \"" + folder.location() + "\"?") != std::string::npos &&
                       said.find("[y/N]") != std::string::npos;
    EXPECT_EQ(asked, c.asked) << said;
    if (!c.created) {
      EXPECT_THAT(store.error, HasSubstr("give --new-records"));
    }
  }
}

TEST(OpenStationStore, OpensAnExistingStoreWithoutAQuestionAndSetsTheLocation) {
  TestDatabase folder(Backend::kSqlite);
  ASSERT_TRUE(station::RecordStore::Open(folder.location(), station::StoreMode::kCreate));
  Options options;
  options.db = folder.location();
  std::FILE* err = std::tmpfile();
  Console console{stdout, err, stdin, false, false, true};
  const auto store = OpenStationStore(options, console);
  EXPECT_TRUE(store) << store.error;
  EXPECT_EQ(ReadAll(err), "");
  std::fclose(err);
  EXPECT_EQ(options.db, folder.location());
}

}  // namespace
}  // namespace orvane::cli
