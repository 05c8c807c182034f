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
  EXPECT_EQ(c.summer, 1);
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

}  // namespace
}  // namespace orvane::cli
