// provision refuses a job for its files in the words of put and flash,
// before the record store is opened and any modem is touched.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "cli/provision.h"
#include "l10n/l10n.h"

namespace orvane::cli {
namespace {

namespace fs = std::filesystem;

class ProvisionFiles : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir); }
  void TearDown() override {
    l10n::SetUpFor(nullptr, "en");
    fs::remove_all(dir);
  }

  std::string File(const std::string& name, std::uintmax_t size) {
    const std::string path = (dir / name).string();
    std::ofstream{path};
    fs::resize_file(path, size);
    return path;
  }
  std::string Refusal(const std::string& job) {
    std::ofstream(dir / "job.toml") << job;
    Options options;
    options.path = (dir / "job.toml").string();
    auto prepared = PrepareJob(options, Console{});
    return prepared ? "<prepared>" : prepared.error;
  }

  const fs::path dir = fs::temp_directory_path() / ("orvane-provision-files-" + std::to_string(::getpid()));
};

TEST_F(ProvisionFiles, EachRefusalInTheWordsOfPutAndFlash) {
  const std::string empty = File("empty.mts", 0), foreign = File("main.bin", 9), big = File("big.mts", 65536);
  const std::string plan = File("big.yp1", 65508), ring = File("big.R0", 66560), short_ring = File("short.R1", 1030);
  const std::string long_name = File(std::string(242, 'n') + ".yp1", 1), good = File("good.yp1", 65507);
  const std::string missing = (dir / "none.yp1").string(), folder = (dir / "folder.yp1").string();
  fs::create_directories(folder);
  const struct {
    const char* language;
    std::string job;
    std::string said;
  } cases[] = {
      {"en", "image = \"empty.mts\"",
       "image: \"" + empty +
           "\" is empty: flashing it would leave the console without its main program (give --force to send it all "
           "the same)"},
      {"en", "image = \"main.bin\"",
       "image: \"" + foreign + "\" is not named as a firmware image (*.mts) (give --force to send it all the same)"},
      {"en", "image = \"big.mts\"\nplans = [\"none.yp1\"]",
       "image: Файл слишком большой! (\"" + big + "\" has 65536 bytes; the largest image is 65535 bytes)"},
      {"en", "plans = [\"good.yp1\", \"big.yp1\"]",
       "plan: Файл слишком большой (\"" + plan + "\" has 65508 bytes; at most 65507 can be sent)"},
      {"en", "plans = [\"big.R0\"]",
       "plan: Файл слишком большой (\"" + ring + "\" has 66560 bytes; at most 66559 can be sent)"},
      {"en", "plans = [\"short.R1\"]", "plan: Файл кольцевого плана слишком короткий (\"" + short_ring + "\")"},
      {"ru", "plans = [\"short.R1\"]", "план: Файл кольцевого плана слишком короткий («" + short_ring + "»)"},
      {"en", "plans = [\"" + std::string(242, 'n') + ".yp1\"]",
       "plan: Слишком длинное имя файла (\"" + long_name + "\")"},
      {"en", "plans = [\"none.yp1\"]", "plan: cannot read \"" + missing + "\": No such file or directory"},
      {"en", "plans = [\"folder.yp1\"]", "plan: \"" + folder + "\" is not a regular file"},
  };
  for (const auto& c : cases) {
    l10n::SetUpFor(nullptr, c.language);
    EXPECT_EQ(Refusal(c.job), c.said) << c.job;
  }
}

}  // namespace
}  // namespace orvane::cli
