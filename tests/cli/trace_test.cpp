#include "cli/trace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "link/commands.h"

namespace orvane::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The frame view of a received frame: it starts at the length byte.
Bytes View(std::uint8_t code, const Bytes& data) {
  Bytes view(data.size() + 2);
  view[0] = static_cast<std::uint8_t>(data.size() + 1);
  view[1] = code;
  std::copy(data.begin(), data.end(), view.begin() + 2);
  return view;
}

TEST(Trace, RequestsAndAnswersAreDecodedByTheirCommand) {
  Bytes block(34, 0);
  block[0] = 2, block[2] = 31, block[3] = 5, block[4] = 0x2C, block[5] = 0x01;
  block[6] = 0x40, block[7] = 0xE2, block[8] = 0x01, block[10] = 0xC4, block[11] = 0xFF, block[12] = 1;
  block[13] = 2, block[14] = 0xCF, block[15] = 'A';  // "ПA" in code page 1251
  Bytes details{0, 0, 0x02, 0x00, 0xDC, 0x05, 3, 'a', '"', 'b'};
  struct Case {
    bool sent;
    std::uint8_t code;
    Bytes data;
    std::string text;
  };
  const Case cases[] = {
      {false, link::kPoll, {}, ""},
      {true, link::kDirectory, {}, ""},
      {false, link::kDirectory, {2}, "files=2"},
      {true, link::kFileDetails, {1}, "index=1"},
      {false, link::kFileDetails, details, "index=0 type=0x0002 (Годовой план АСУДД) size=1500 name=\"a\\\"b\""},
      {false, link::kFileDetails, {0, 0, 2, 0, 0, 0, 9, 'x'}, "(short)"},
      {false, link::kFreeSpace, {0x48, 0x3F}, "free=16200"},
      {true, link::kConstantsRead, block,
       "block=2 length=31 local=5 global=300 serial=123456 tz=-60 summer=1 id=\"ПA\""},
      {false, link::kConstantsRead, block,
       "block=2 length=31 local=5 global=300 serial=123456 tz=-60 summer=1 id=\"ПA\""},
      {true, link::kFirmwareVerify, {0x20, 0x01, 32, 9, 9}, "offset=0x0120 count=32"},
      {false, link::kFirmwareVerify, {0x20, 0x01, 1}, "echo=0x20 status=1 (differs)"},
      {false, link::kConstantsVerify, {2, 0, 0}, "echo=0x02 status=0 (equal)"},
      {true, link::kCreateFile, {2, 0, 13, 0, 3, 'p', '.', 'x', 3, 0}, "type=0x0002 total=13 name=\"p.x\" data=3"},
      {true, link::kFileChunk, {10, 0, 3, 1, 2, 3}, "offset=10 count=3"},
      {true, link::kDeleteFile, {4}, "index=4"},
      {false, link::kCreateFile, {}, ""},
      {false, 7, {1, 2}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(DescribeData(c.sent, c.code, c.data), c.text) << int{c.code};
  EXPECT_STREQ(link::CommandName(link::kFreeSpace), "free-space");
  EXPECT_STREQ(link::CommandName(30), "unknown");
  EXPECT_EQ(HexBytes(Bytes{0x5D, 0x0A, 0xFF}), "5D 0A FF");
}

TEST(Trace, EveryEventIsALineOnDiskAtOnce) {
  const std::string path = std::filesystem::temp_directory_path() / ("orvane-trace-" + std::to_string(::getpid()));
  std::string error;
  auto trace = TraceWriter::Open(path, &error);
  ASSERT_TRUE(trace) << error;
  trace->FrameSent(link::BuildFrame(link::kDirectory, {}));
  const Bytes answer = View(link::kDirectory, {3});
  trace->FrameReceived(link::FrameView(answer));
  link::QueueEntry head;
  head.length = 2, head.command = link::kFileDetails, head.data[0] = 1;
  trace->Decision(link::LinkDecision::kResend, &head);
  trace->Log("Операция успешно завершена.");

  // Read back while the writer is still open: nothing waits in a buffer.
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u);
  const std::regex stamp(R"(^ *\d+ )");
  for (const std::string& line : lines) EXPECT_TRUE(std::regex_search(line, stamp)) << line;
  EXPECT_TRUE(lines[0].ends_with(" out 16 directory | 5D 59 54 57 01 10 8D")) << lines[0];
  EXPECT_TRUE(lines[1].ends_with(" in  16 directory files=3 | 5D 59 54 57 02 10 03 89")) << lines[1];
  EXPECT_TRUE(lines[2].ends_with(" link resend 17 file-details index=1")) << lines[2];
  EXPECT_TRUE(lines[3].ends_with(" log Операция успешно завершена.")) << lines[3];
  std::filesystem::remove(path);
  EXPECT_FALSE(TraceWriter::Open("/nonexistent/folder/trace", &error));
  EXPECT_NE(error.find("/nonexistent/folder/trace"), std::string::npos);
}

}  // namespace
}  // namespace orvane::cli
