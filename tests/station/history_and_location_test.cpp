#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "station/record_store.h"
#include "station/store_location.h"

namespace orvane::station {
namespace {

using ::testing::HasSubstr;

// A location's fields in one line, options last.
std::string Fields(const StoreLocation& l) {
  std::string text = l.kind == StoreLocation::Kind::kSqlite
                         ? "file=" + l.file
                         : "host=" + l.host + " user=" + l.user + " password=" + l.password + " db=" + l.database +
                               " port=" + std::to_string(l.port);
  for (const auto& [key, value] : l.options) text += " " + key + "=" + value;
  return text;
}

TEST(StoreLocation, ReadsFilePathsAndPostgresUrls) {
  const std::string defaults = " connect_timeout=10 options=-c client_min_messages=warning";
  struct Case {
    std::string text, fields, described;
  };
  const Case cases[] = {
      {"/var/lib/station.sqlite", "file=/var/lib/station.sqlite", "\"/var/lib/station.sqlite\""},
      {"station.sqlite", "file=station.sqlite", "\"station.sqlite\""},
      {"postgresql://orvane:p%40ss:w@db.local:5433/station",
       "host=db.local user=orvane password=p@ss:w db=station port=5433" + defaults,
       "postgresql://orvane@db.local:5433/station"},
      {"postgres://u@[::1]:6000/d", "host=::1 user=u password= db=d port=6000" + defaults,
       "postgresql://u@[::1]:6000/d"},
      {"postgresql://u:pw@/station?host=/tmp/pg%20sock",
       "host=/tmp/pg sock user=u password=pw db=station port=-1" + defaults,
       "postgresql://u@/station?host=/tmp/pg sock"},
      {"postgresql://h?dbname=d&user=u&password=x&port=7&sslmode=require&connect_timeout=3&options=-csearch_path%3Ds",
       "host=h user=u password=x db=d port=7 sslmode=require connect_timeout=3 "
       "options=-c client_min_messages=warning -csearch_path=s",
       "postgresql://u@h:7/d"},
      {"postgresql:///db", "host= user= password= db=db port=-1" + defaults, "postgresql:///db"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto got = ParseStoreLocation(c.text);
    ASSERT_TRUE(got) << got.error;
    EXPECT_EQ(Fields(*got.value), c.fields);
    EXPECT_EQ(got.value->Describe(), c.described);
  }
  for (const char* bad : {"postgresql://h:0/d", "postgresql://h:x/d", "postgresql://u:%zz@h/d", "postgresql://[::1/d",
                          "postgresql://h/d?flag", "postgresql://h/d?options=a;b", "sqlite://x"}) {
    SCOPED_TRACE(bad);
    const auto got = ParseStoreLocation(bad);
    EXPECT_FALSE(got);
    EXPECT_FALSE(got.error.empty());
  }
}

// Each refusal names the part at fault and never the password.
TEST(StoreLocation, NamesWhatIsWrongWithAUrl) {
  const std::pair<const char*, const char*> cases[] = {
      {"postgresql://u:secret@h/d%zz", "has a broken percent escape in the database name"},
      {"postgresql://u%4:secret@h/d", "has a broken percent escape in the user"},
      {"postgresql://u:secret%@h/d", "has a broken percent escape in the password"},
      {"postgresql://u:secret@h%g1/d", "has a broken percent escape in the host"},
      {"postgresql://u:secret@[::1/d", "has a '[' without ']' around its host"},
      {"postgresql://u:secret@[::1]x/d", "has something other than :port after its host"},
      {"postgresql://u:secret@h:65536/d", "has the port \"65536\", not a number from 1 to 65535"},
      {"postgresql://u:secret@h:0/d", "has the port \"0\""},
      {"postgresql://u:secret@h/d?port=x", "has the port \"x\""},
      {"postgresql://u:secret@h/d?=x", "has a query part that is not key=value: \"=x\""},
      {"postgresql://u:secret@h/d?a=%zz", "has a query part that is not key=value"},
      {"postgresql://u:secret@h/d?sslmode=a;b", "option sslmode holds a ';'"},
  };
  for (const auto& [url, why] : cases) {
    SCOPED_TRACE(url);
    const auto got = ParseStoreLocation(url);
    ASSERT_FALSE(got);
    EXPECT_THAT(got.error, HasSubstr(std::string("the PostgreSQL URL ") + why));
    EXPECT_EQ(got.error.find("secret"), std::string::npos);
  }
}

TEST(StoreLocation, DefaultPathFollowsXdgDataHome) {
  const std::string saved_home = std::getenv("HOME") ? std::getenv("HOME") : "";
  const std::filesystem::path base =
      std::filesystem::temp_directory_path() / ("orvane-xdg-" + std::to_string(::getpid()));
  ::setenv("XDG_DATA_HOME", (base / "data").c_str(), 1);
  EXPECT_EQ(DefaultStorePath().value, (base / "data/orvane/station.sqlite").string());
  EXPECT_TRUE(std::filesystem::is_directory(base / "data/orvane"));
  ::setenv("XDG_DATA_HOME", "relative/ignored", 1);
  ::setenv("HOME", (base / "home").c_str(), 1);
  EXPECT_EQ(DefaultStorePath().value, (base / "home/.local/share/orvane/station.sqlite").string());
  ::unsetenv("XDG_DATA_HOME");
  ::setenv("HOME", (base / "file").c_str(), 1);
  std::filesystem::create_directories(base);
  std::ofstream(base / "file") << "x";
  EXPECT_THAT(DefaultStorePath().error, HasSubstr("cannot create the folder"));
  ::setenv("HOME", saved_home.c_str(), 1);
  std::filesystem::remove_all(base);
}

TEST(History, SinceTakesADayOrAnIsoTime) {
  const char* saved = std::getenv("TZ");
  const std::string saved_tz = saved ? saved : "";
  ::setenv("TZ", "MSK-3", 1);
  ::tzset();
  struct Case {
    const char* since;
    const char* utc;
  };
  const Case cases[] = {
      {"2024-05-01", "2024-04-30T21:00:00.000Z"},
      {"2024-05-01T10:00:00", "2024-05-01T07:00:00.000Z"},
      {"2024-05-01T10:00:00Z", "2024-05-01T10:00:00.000Z"},
      {"2024-05-01T10:00:00.250+02:00", "2024-05-01T08:00:00.250Z"},
  };
  for (const Case& c : cases) EXPECT_EQ(SinceToUtc(c.since).value, c.utc) << c.since;
  for (const char* bad : {"", "yesterday", "2024-13-01", "2024-05-01T25:00"}) {
    EXPECT_THAT(SinceToUtc(bad).error, HasSubstr("is neither a date (YYYY-MM-DD) nor an ISO 8601 time"));
  }
  saved ? ::setenv("TZ", saved_tz.c_str(), 1) : ::unsetenv("TZ");
  ::tzset();
}

std::vector<RunRecord> SampleRuns() {
  RunRecord done;
  done.id = 1;
  done.started = "2024-05-01T10:00:00.000Z";
  done.finished = "2024-05-01T10:01:00.000Z";
  done.port = "COM5";
  done.usb_serial = "A10K3Z9";
  done.serial = 100000;
  done.image_sha256 = "ab";
  done.plans = {{"plan 12.yp1", "cd"}};
  done.constants = Constants{"Пульт-7", 180};
  done.result = RunResult::kDone;
  done.version = "1.0";
  done.station = "bench-2";
  done.position = "Место 1";
  done.socket = "pci-1";
  done.trace = "/t/r.trace";
  done.image_action = ImageAction::kAlreadyHeld;
  done.holds_json = "{\"plans\":[\"a\"]}";
  done.serial_kind = SerialKind::kKept;
  RunRecord running;
  running.id = 2;
  running.started = "2024-05-01T10:02:00.000Z";
  running.port = "/dev/ttyUSB1";
  running.reason = "line 1, \"quoted\"\nline 2";
  running.version = "1.0";
  running.station = "bench-2";
  running.lease_until = "2024-05-01T10:05:00.000Z";
  return {done, running};
}

TEST(History, FormatsATableJsonLinesAndCsv) {
  const auto runs = SampleRuns();
  EXPECT_EQ(FormatHistoryTable(runs),
            "run  started                   finished                  port          usb serial  serial       result   "
            "reason                   station  position  holds\n"
            "1    2024-05-01T10:00:00.000Z  2024-05-01T10:01:00.000Z  COM5          A10K3Z9     100000 kept  done     "
            "                         bench-2  Место 1   -\n"
            "2    2024-05-01T10:02:00.000Z  -                         /dev/ttyUSB1  -           -            running  "
            "line 1, \"quoted\" line 2  bench-2  -         -\n");
  EXPECT_EQ(
      FormatHistoryJson(runs),
      "{\"constants\":{\"id\":\"Пульт-7\",\"tz\":180},\"failed_plan\":0,\"failed_step\":\"none\","
      "\"finished\":\"2024-05-01T10:01:00.000Z\",\"holds\":{\"plans\":[\"a\"]},\"image_action\":\"already_held\","
      "\"image_sha256\":\"ab\",\"lease_until\":\"\",\"plans\":[{\"name\":\"plan 12.yp1\",\"sha256\":\"cd\"}],"
      "\"port\":\"COM5\",\"position\":\"Место 1\",\"reason\":\"\",\"result\":\"done\",\"run\":1,\"serial\":100000,"
      "\"serial_again\":false,\"serial_kind\":\"kept\",\"socket\":\"pci-1\",\"started\":\"2024-05-01T10:00:00.000Z\","
      "\"station\":\"bench-2\",\"trace\":\"/t/r.trace\",\"usb_serial\":\"A10K3Z9\",\"version\":\"1.0\"}\n"
      "{\"constants\":{},\"failed_plan\":0,\"failed_step\":\"none\",\"finished\":null,\"holds\":{},"
      "\"image_action\":\"none\",\"image_sha256\":\"\",\"lease_until\":\"2024-05-01T10:05:00.000Z\",\"plans\":[],"
      "\"port\":\"/dev/ttyUSB1\",\"position\":\"\",\"reason\":\"line 1, \\\"quoted\\\"\\nline 2\",\"result\":\"running\","
      "\"run\":2,\"serial\":null,\"serial_again\":false,\"serial_kind\":null,\"socket\":\"\","
      "\"started\":\"2024-05-01T10:02:00.000Z\",\"station\":\"bench-2\",\"trace\":\"\",\"usb_serial\":\"\","
      "\"version\":\"1.0\"}\n");
  EXPECT_EQ(
      FormatHistoryCsv(runs),
      "run,started,finished,port,usb_serial,serial,serial_again,result,reason,image_sha256,plans,constants,"
      "version,station,position,socket,trace,image_action,failed_step,failed_plan,holds,lease_until,serial_kind,"
      "main_program,files,files_plan,constants_written,serial_written,must_come_back\r\n"
      "1,2024-05-01T10:00:00.000Z,2024-05-01T10:01:00.000Z,COM5,A10K3Z9,100000,false,done,,ab,"
      "\"[{\"\"name\"\":\"\"plan 12.yp1\"\",\"\"sha256\"\":\"\"cd\"\"}]\",\"{\"\"id\"\":\"\"Пульт-7\"\","
      "\"\"tz\"\":180}\",1.0,bench-2,Место 1,pci-1,/t/r.trace,already_held,none,0,\"{\"\"plans\"\":[\"\"a\"\"]}\",,"
      "kept,,,,,,\r\n"
      "2,2024-05-01T10:02:00.000Z,,/dev/ttyUSB1,,,false,running,\"line 1, \"\"quoted\"\"\nline 2\",,[],{},1.0,bench-2,,,,"
      "none,none,0,{},2024-05-01T10:05:00.000Z,,,,,,,\r\n");
  EXPECT_EQ(FormatHistoryTable({}),
            "run  started  finished  port  usb serial  serial  result  reason  station  position  holds\n");
  EXPECT_EQ(FormatHistoryJson({}), "");
}

}  // namespace
}  // namespace orvane::station
