#include "cli/several_ports.h"

#include <gtest/gtest.h>

#include "cli/port_result.h"
#include "cli/profile.h"

namespace orvane::cli {
namespace {

using Words = std::vector<std::string>;

Options Parsed(const Words& arguments) {
  const ParseResult result = ParseOptions(arguments);
  EXPECT_TRUE(result.options) << result.error;
  return result.options.value_or(Options{});
}

Words ChildWords(const Words& arguments, const std::string& port, std::size_t index) {
  return ArgumentsOf(ChildOptions(Parsed(arguments), port, index, 7));
}

TEST(SeveralPorts, EachChildRunsTheSameCommandOnItsOwnPort) {
  EXPECT_EQ(ChildWords({"--port", "COM3", "--port", "COM4", "--json", "-q", "put", "--", "-odd.yp1"}, "COM4", 1),
            (Words{"--port=COM4", "--yes", "--json", "--quiet", "--result-fd=7", "put", "--", "-odd.yp1"}));
  EXPECT_EQ(ChildWords({"--port", "all", "--trace", "t.log", "delete", "3"}, "/dev/ttyUSB0", 0),
            (Words{"--port=/dev/ttyUSB0", "--yes", "--trace=t.log.dev-ttyUSB0", "--result-fd=7", "delete", "3"}));
  EXPECT_EQ(ChildWords({"--port", "all", "constants", "--id", "K", "--local", "7", "--serial-from", "10"}, "COM5", 2),
            (Words{"--port=COM5", "--yes", "--result-fd=7", "constants", "--id", "K", "--local", "7", "--serial", "12"}));
  EXPECT_EQ(TracePathFor("t", "COM3"), "t.COM3");
  EXPECT_NE(TracePathFor("t", "/dev/a/b"), TracePathFor("t", "/dev/a-b")) << "two ports, two trace files";
  EXPECT_NE(TracePathFor("t", "/dev/a-b"), TracePathFor("t", "/dev/a%2Db"));
}

// The command line of a child is written from the parsed options, so it
// parses back into the same options.
TEST(SeveralPorts, ArgumentsOfParsedOptionsParseBackTheSame) {
  for (const Words& line : {Words{"--port", "COM3", "--json", "--trace", "x", "verify", "--", "-a.mts"},
                            Words{"ports", "-v"}, Words{"-q", "constants", "--id", "Пульт", "--tz", "-60", "--summer",
                                                        "1", "--global", "9", "--serial-from", "4"}}) {
    const Options first = Parsed(line);
    const Options again = Parsed(ArgumentsOf(first));
    EXPECT_EQ(ArgumentsOf(again), ArgumentsOf(first));
    EXPECT_EQ(again.command, first.command);
    EXPECT_EQ(again.path, first.path);
    EXPECT_EQ(again.constants.identifier, first.constants.identifier);
    EXPECT_EQ(again.constants.time_zone, first.constants.time_zone);
    EXPECT_EQ(again.serial_from, first.serial_from);
    EXPECT_EQ(again.verbose, first.verbose);
  }
}

TEST(SeveralPorts, AResultCarriesItsPortItsStatusAndWhatWentWrong) {
  PortResult done{.port = "COM3", .end = RunEnding::Done(), .error = "", .device = device::DeviceModel{},
                  .verify = std::nullopt};
  done.device->free_space = 5;
  const PortResult failed{.port = "COM4", .end = RunEnding::Failed(), .error = "Модем не подключен!",
                          .device = std::nullopt, .verify = std::nullopt};
  EXPECT_EQ(FormatPortResult(done, true),
            "{\"port\":\"COM3\",\"exit\":0,\"files\":[],\"free\":5,\"constants\":{\"id\":\"\",\"tz\":0,"
            "\"summer\":0,\"local\":0,\"global\":0,\"serial\":0}}\n");
  EXPECT_EQ(FormatPortResult(failed, true), "{\"port\":\"COM4\",\"exit\":1,\"error\":\"Модем не подключен!\"}\n");
  EXPECT_EQ(FormatPortResult(done, false), "== COM3 ==\n" + FormatTable(*done.device));
  EXPECT_EQ(FormatPortResult(failed, false), "== COM4: exit 1, Модем не подключен! ==\n");
}

// What a child hands over is what its parent prints.
TEST(SeveralPorts, AResultLineCarriesTheWholeResult) {
  PortResult differs{.port = "/dev/pts/3", .end = RunEnding::Failed(),
                     .error = "Ошибка верификации записанных данных!", .device = device::DeviceModel{},
                     .verify = VerifyResult{"a.mts", 4096, 2976, false}};
  differs.device->directory.files = {device::FileRecord{1, "C:\\план.yp1", 2, 1500}};
  differs.device->fields = {"Пульт-7", 180, 1, 5, 300, -2};
  const auto back = ParseResultLine(ResultLine(differs));
  ASSERT_TRUE(back);
  EXPECT_EQ(FormatPortResult(*back, false), FormatPortResult(differs, false));
  EXPECT_EQ(FormatPortResult(*back, true), FormatPortResult(differs, true));
  EXPECT_EQ(ExitStatusOf(*back), 1);
  EXPECT_FALSE(ParseResultLine("{\"port\":\"x\"}"));
  EXPECT_FALSE(ParseResultLine("not json"));
}

TEST(Profile, TheConstantsOfAStatusFileFillWhatTheCommandLineLeftOpen) {
  ConstantsChange change;
  change.time_zone = 60;  // given on the command line
  ASSERT_FALSE(ApplyProfileText(
      R"({"files":[],"free":1,"constants":{"id":"Пульт","tz":180,"summer":1,"local":5,"global":300,"serial":-7}})",
      change));
  EXPECT_EQ(change.identifier, "Пульт");
  EXPECT_EQ(change.time_zone, 60);
  EXPECT_EQ(change.summer_index, 1);
  EXPECT_EQ(change.local_address, 5);
  EXPECT_EQ(change.global_address, 300);
  EXPECT_FALSE(change.serial_number) << "a cabinet's serial number stays its own";

  const std::pair<const char*, const char*> refused[] = {
      {"{", "not JSON"},
      {R"({"files":[]})", "no \"constants\" object"},
      {R"({"constants":{}})", "holds none of"},
      {R"({"constants":{"local":255}})", "constants.local must be a whole number from 0 to 254, not 255"},
      {R"({"constants":{"summer":-1}})", "constants.summer must be a whole number from 0 to 1, not -1"},
      {R"({"constants":{"tz":1.5}})", "constants.tz must be a whole number"},
      {R"({"constants":{"serial":77}})", "holds none of"},
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
