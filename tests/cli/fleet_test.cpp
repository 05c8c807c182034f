#include "cli/fleet.h"

#include <gtest/gtest.h>

#include "cli/profile.h"

namespace orvane::cli {
namespace {

using Words = std::vector<std::string>;

Options Parsed(const Words& arguments) {
  const ParseResult result = ParseOptions(arguments);
  EXPECT_TRUE(result.options) << result.error;
  return result.options.value_or(Options{});
}

TEST(Fleet, EachChildRunsTheSameCommandOnItsOwnPort) {
  EXPECT_EQ(ChildArguments(Parsed({"--port", "COM3", "--port", "COM4", "--json", "-q", "put", "--", "-odd.yp1"}), "COM4", 1),
            (Words{"--port=COM4", "--yes", "--json", "--quiet", "put", "--", "-odd.yp1"}));
  EXPECT_EQ(ChildArguments(Parsed({"--port", "all", "--trace", "t.log", "delete", "3"}), "/dev/ttyUSB0", 0),
            (Words{"--port=/dev/ttyUSB0", "--yes", "--trace=t.log.dev-ttyUSB0", "delete", "3"}));
  EXPECT_EQ(ChildArguments(Parsed({"--port", "all", "constants", "--id", "K", "--local", "7", "--serial-from", "10"}),
                           "COM5", 2),
            (Words{"--port=COM5", "--yes", "constants", "--id", "K", "--local", "7", "--serial", "12"}));
  EXPECT_EQ(TracePathFor("t", "COM3"), "t.COM3");
}

TEST(Fleet, AResultCarriesItsPortItsStatusAndWhatWentWrong) {
  const ChildOutcome done{"COM3", 0, "{\"files\":[],\"free\":5}\n", ""};
  const ChildOutcome failed{"COM4", 1, "", "Модем не подключен!"};
  EXPECT_EQ(FormatOutcome(done, true), "{\"port\":\"COM3\",\"exit\":0,\"files\":[],\"free\":5}\n");
  EXPECT_EQ(FormatOutcome(failed, true), "{\"port\":\"COM4\",\"exit\":1,\"error\":\"Модем не подключен!\"}\n");
  EXPECT_EQ(FormatOutcome({"COM3", 0, "table\n", ""}, false), "== COM3 ==\ntable\n");
  EXPECT_EQ(FormatOutcome(failed, false), "== COM4: exit 1, Модем не подключен! ==\n");

  EXPECT_EQ(ErrorOfLine("orvane-cli: not confirmed"), "not confirmed");
  EXPECT_EQ(ErrorOfLine("Ошибка верификации записанных данных!"), "Ошибка верификации записанных данных!");
  EXPECT_FALSE(ErrorOfLine("Порт связи закрыт"));
}

TEST(Profile, TheConstantsOfAStatusFileFillWhatTheCommandLineLeftOpen) {
  ConstantsChange change;
  change.time_zone = 60;  // given on the command line
  ASSERT_FALSE(ApplyProfileText(
      R"({"files":[],"free":1,"constants":{"id":"Пульт","tz":180,"summer":1,"local":5,"global":300,"serial":-7}})",
      change));
  EXPECT_EQ(change.identifier, "Пульт");
  EXPECT_EQ(change.time_zone, 60);
  EXPECT_EQ(change.summer, 1);
  EXPECT_EQ(change.local_address, 5);
  EXPECT_EQ(change.global_address, 300);
  EXPECT_EQ(change.serial_number, -7);

  const std::pair<const char*, const char*> refused[] = {
      {"{", "not JSON"},
      {R"({"files":[]})", "no \"constants\" object"},
      {R"({"constants":{}})", "holds none of"},
      {R"({"constants":{"local":255}})", "constants.local must be a whole number from 0 to 254, not 255"},
      {R"({"constants":{"summer":-1}})", "constants.summer must be a whole number from 0 to 1, not -1"},
      {R"({"constants":{"tz":1.5}})", "constants.tz must be a whole number"},
      {R"({"constants":{"serial":"5"}})", "constants.serial must be a whole number"},
      {R"({"constants":{"id":"ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ"}})", "constants.id holds at most 20 characters"},
  };
  for (const auto& [text, message] : refused) {
    ConstantsChange untouched;
    const auto error = ApplyProfileText(text, untouched);
    ASSERT_TRUE(error) << text;
    EXPECT_NE(error->find(message), std::string::npos) << *error;
    EXPECT_TRUE(untouched.Empty()) << text;
  }
}

}  // namespace
}  // namespace orvane::cli
