#include "cli/options.h"

#include <gtest/gtest.h>

namespace orvane::cli {
namespace {

Options Parsed(const std::vector<std::string>& arguments) {
  const ParseResult result = ParseOptions(arguments);
  EXPECT_TRUE(result.options) << result.error;
  return result.options.value_or(Options{});
}

std::string Refusal(const std::vector<std::string>& arguments) {
  const ParseResult result = ParseOptions(arguments);
  EXPECT_FALSE(result.options);
  return result.error;
}

TEST(Options, GlobalOptionsStandBeforeOrAfterTheCommand) {
  const Options options = Parsed({"--port", "COM3", "put", "plan.yp1", "--json", "-q", "--yes"});
  EXPECT_EQ(options.command, Command::kPut);
  EXPECT_EQ(options.path, "plan.yp1");
  EXPECT_EQ(options.port, "COM3");
  EXPECT_TRUE(options.json);
  EXPECT_TRUE(options.quiet);
  EXPECT_TRUE(options.yes);
  EXPECT_EQ(Parsed({"--port=/dev/pts/4", "status"}).port, "/dev/pts/4");
  EXPECT_FALSE(Parsed({"status"}).port);
}

TEST(Options, ConstantsTakeOnlyTheGivenFieldsWithinTheirRanges) {
  const Options options =
      Parsed({"constants", "--id", "Пульт", "--tz", "-60", "--summer=1", "--local", "254", "--serial", "-5"});
  const ConstantsChange& c = options.constants;
  EXPECT_EQ(c.identifier, "Пульт");
  EXPECT_EQ(c.time_zone, -60);
  EXPECT_EQ(c.summer_index, 1);
  EXPECT_EQ(c.local_address, 254);
  EXPECT_FALSE(c.global_address);
  EXPECT_EQ(c.serial_number, -5);

  EXPECT_NE(Refusal({"constants", "--local", "255"}).find("0 to 254"), std::string::npos);
  Refusal({"constants", "--global", "65536"});
  Refusal({"constants", "--tz", "32768"});
  Refusal({"constants", "--summer", "2"});
  Refusal({"constants", "--serial", "2147483648"});
  Refusal({"constants", "--local", "7x"});
  Refusal({"constants"});
  // Twenty Cyrillic characters fit (40 bytes of UTF-8); twenty-one do not.
  EXPECT_TRUE(ParseOptions({"constants", "--id", "ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ"}).options);
  Refusal({"constants", "--id", "ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ"});
  EXPECT_NE(Refusal({"status", "--tz", "5"}).find("constants"), std::string::npos);
}

TEST(Options, CommandsAndTheirArgumentsAreChecked) {
  EXPECT_EQ(Parsed({"delete", "3"}).file_number, 3);
  EXPECT_TRUE(Parsed({"ports", "-v"}).verbose);
  EXPECT_TRUE(Parsed({"--help"}).help);
  EXPECT_EQ(Parsed({"flash", "--", "-odd-name.mts"}).path, "-odd-name.mts");
  Refusal({});
  Refusal({"reboot"});
  Refusal({"delete", "0"});
  Refusal({"delete", "two"});
  Refusal({"put"});
  Refusal({"put", "a", "b"});
  Refusal({"status", "extra"});
  Refusal({"--port"});
  Refusal({"--port", "", "status"});
  Refusal({"--json=1", "status"});
  Refusal({"--frob", "status"});
  Refusal({"status", "-v"});
}

TEST(Options, EveryRefusalSaysWhatIsWrongInItsOwnWords) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "no command given"},
      {{"--json"}, "no command given"},
      {{"reboot", "now"}, "unknown command \"reboot\""},
      {{"put", "a", "b"}, "put takes one argument"},
      {{"verify"}, "verify takes one argument"},
      {{"status", "extra"}, "status takes no arguments"},
      {{"delete", "256"}, "delete needs a file number from 1 to 255, not \"256\""},
      {{"flash", ""}, "flash needs a file name"},
      {{"constants"}, "constants needs at least one of --id, --tz, --summer, --local, --global, --serial"},
      {{"status", "--port"}, "--port needs a value"},
      {{"constants", "--tz"}, "--tz needs a value"},
      {{"constants", "--global", "-1"}, "--global must be a whole number from 0 to 65535, not \"-1\""},
      {{"--yes=no", "erase"}, "--yes takes no value"},
      {{"ports", "--verbose=yes"}, "--verbose takes no value"},
      {{"history", "--since"}, "--since needs a value"},
      {{"--port", "", "status"}, "--port needs a name"},
      {{"constants", "--id", "ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ"}, "--id holds at most 20 characters"},
      {{"put", "x", "--serial=5"}, "--serial belongs to the constants command"},
      {{"status", "--from", "p.json"}, "--from belongs to the constants command"},
      {{"flash", "x", "-v"}, "--verbose belongs to the ports command"},
      {{"--frob", "status"}, "unknown option --frob"},
      {{"--port", "all", "--port", "COM3", "status"}, "--port all stands alone"},
      {{"--port", "COM3", "--port", "COM4", "--port", "COM3", "status"}, "--port COM3 is given twice"},
      {{"constants", "--serial", "1", "--serial-from", "2"}, "--serial-from and --serial exclude each other"},
      {{"constants", "--serial-from", "x"}, "--serial-from must be a whole number from -2147483648 to 2147483647, not \"x\""},
      {{"--trace", "", "status"}, "--trace needs a file name"},
      {{"put", "x", "--", "-y"}, "put takes one argument"},
  };
  for (const auto& [arguments, message] : cases) EXPECT_EQ(Refusal(arguments), message) << arguments.size();
}

TEST(Options, SeveralPortsTraceVerifyAndConstantsFromAFile) {
  const Options two = Parsed({"--port", "COM3", "flash", "a.mts", "--port=COM4", "--trace", "t.log"});
  EXPECT_EQ(two.ports, (std::vector<std::string>{"COM3", "COM4"}));
  EXPECT_TRUE(two.SeveralPorts());
  EXPECT_FALSE(two.port) << "no single port for a run on several";
  EXPECT_EQ(two.trace_path, "t.log");
  const Options all = Parsed({"--port", "all", "status"});
  EXPECT_TRUE(all.AllPorts());
  EXPECT_TRUE(all.SeveralPorts());
  EXPECT_FALSE(Parsed({"--port", "COM3", "status"}).SeveralPorts());

  const Options verify = Parsed({"verify", "image.mts", "--json"});
  EXPECT_EQ(verify.command, Command::kVerify);
  EXPECT_EQ(verify.path, "image.mts");

  const Options profile = Parsed({"constants", "--from", "p.json", "--serial-from", "-3", "--tz", "60"});
  EXPECT_EQ(profile.profile_path, "p.json");
  EXPECT_EQ(profile.serial_from, -3);
  EXPECT_EQ(profile.constants.time_zone, 60);
  EXPECT_FALSE(profile.constants.serial_number);
  EXPECT_EQ(Parsed({"constants", "--tz", "1", "--tz", "2"}).constants.time_zone, 2) << "the last one counts";
  EXPECT_EQ(Parsed({"--tz", "5", "constants"}).constants.time_zone, 5) << "before the command too";
}

}  // namespace
}  // namespace orvane::cli

namespace orvane::cli {
namespace {

// provision and history, and the --serial each of history and constants
// owns with its own meaning.
TEST(Options, ProvisionAndHistoryTakeTheirOwnOptions) {
  const Options history = Parsed({"history", "--serial", "100007", "--since", "2026-12-01", "--csv"});
  EXPECT_EQ(history.history_serial, 100007);
  EXPECT_FALSE(history.constants.serial_number) << "history's --serial is no constant";
  const Options narrowed = Parsed(
      {"history", "--until", "2026-12-31", "--station", "bench-2", "--position", "Место 1", "--result", "failed"});
  EXPECT_EQ(narrowed.until, "2026-12-31");
  EXPECT_EQ(narrowed.station_name, "bench-2");
  EXPECT_EQ(narrowed.position_name, "Место 1");
  EXPECT_EQ(narrowed.result_word, "failed");
  EXPECT_TRUE(Parsed({"provision", "--new-records", "j.toml"}).new_records);
  EXPECT_FALSE(Parsed({"provision", "j.toml"}).new_records);
  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"provision"}, "provision takes one argument"},
      {{"--port", "COM3", "provision", "--watch", "j.toml"}, "--watch needs --port all"},
      {{"status", "--watch"}, "--watch belongs to the provision command"},
      {{"history", "--json", "--csv"}, "--csv and --json exclude each other"},
      {{"history", "--serial", "x"}, "--serial must be a whole number from -2147483648 to 2147483647, not \"x\""},
      {{"history", "--id", "a"}, "--id belongs to the constants command"},
      {{"constants", "--since", "2026-01-01", "--tz", "1"}, "--since belongs to the history command"},
      {{"--db", "", "history"}, "--db needs a file name or a postgresql:// URL"},
      {{"history", "--new-records"}, "--new-records belongs to the provision command"},
      {{"history", "--result", "ok"}, "--result is one of running, done, failed, interrupted, abandoned, not \"ok\""},
      {{"history", "--station", ""}, "--station needs a name"},
      {{"history", "--until", ""}, "--until needs a date (YYYY-MM-DD) or a time"},
      {{"status", "--position", "Место 1"}, "--position belongs to the history command"},
  };
  for (const auto& [arguments, message] : refused) EXPECT_EQ(Refusal(arguments), message);
}

}  // namespace
}  // namespace orvane::cli
