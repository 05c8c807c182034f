// The tool speaks the operator's language: Russian under a Russian locale,
// English otherwise, whether or not the Russian locale is installed on the
// machine. The console's own log lines are Russian in both.
#include "tests/e2e/e2e_fixture.h"

namespace orvane::e2e {
namespace {

class Languages : public EndToEnd {};

const Environment kRussian{{"LANG", "ru_RU.UTF-8"}};
const Environment kEnglish{{"LANG", "C.UTF-8"}};

TEST_F(Languages, TheToolsOwnWordsFollowTheLocaleAndTheConsolesLinesStayRussian) {
  struct Case {
    std::vector<std::string> arguments;
    Environment environment;
    int exit_status;
    std::string in_out, in_err;
  };
  StartDevice({"--capacity", "1000"});
  const std::string big = WriteFile("big.yp1", Pattern(990, 70));
  const Case cases[] = {
      {{"--help"}, kRussian, 0, "Команды:", ""},
      {{"--help"}, kEnglish, 0, "Commands:", ""},
      {{"constants", "--local", "300"}, kRussian, 2, "", "--local должно быть целым числом от 0 до 254, а не «300»"},
      {{"constants", "--local", "300"}, kEnglish, 2, "", "--local must be a whole number from 0 to 254, not \"300\""},
      {{"delete", "x"}, {{"LC_MESSAGES", "ru_RU.UTF-8"}, {"LANG", "C.UTF-8"}}, 2, "", "delete требует номера файла от 1 до 255, а не «x»"},
      // A refusal at run time: the console's status text is its own, the
      // log lines the console's; the tool adds nothing to them in English.
      {{"put", big}, kRussian, 2, "", "orvane-cli: Файл слишком большой\n"},
      {{"put", big}, kEnglish, 2, "", "Открытие портa связи:\n"},
  };
  for (const Case& c : cases) {
    const RunResult run = Cli(c.arguments, std::chrono::seconds(30), c.environment);
    EXPECT_EQ(run.exit_status, c.exit_status) << run.err;
    EXPECT_NE(run.out.find(c.in_out), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(c.in_err), std::string::npos) << run.err;
  }
  const RunResult english = Cli({"--help"}, std::chrono::seconds(10), kEnglish);
  EXPECT_EQ(english.out.find("Команды"), std::string::npos) << "no Russian in the English help";
}

TEST_F(Languages, TheSimulatorsHelpFollowsTheLocaleToo) {
  const std::pair<Environment, std::string> cases[] = {{kRussian, "Имитация пульта KV80"},
                                                       {kEnglish, "A simulated KV80 console"}};
  for (const auto& [environment, text] : cases) {
    const RunResult run = RunProgram({ORVANE_SIM_PROGRAM, "--help"}, environment, std::chrono::seconds(10));
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_NE(run.out.find(text), std::string::npos) << run.out;
  }
}

}  // namespace
}  // namespace orvane::e2e
