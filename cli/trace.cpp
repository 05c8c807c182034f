#include "cli/trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/report.h"
#include "device/session.h"
#include "link/commands.h"
#include "link/cp1251.h"

namespace orvane::cli {
namespace {

using Bytes = std::span<const std::uint8_t>;

std::uint16_t U16(Bytes data, std::size_t at) { return static_cast<std::uint16_t>(data[at] | (data[at + 1] << 8)); }

std::string Hex16(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

std::string Hex8(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

std::string Quoted(Bytes cp1251) { return DumpJson(link::Cp1251ToUtf8(cp1251)); }

std::string Status(std::uint8_t status) {
  return "status=" + std::to_string(status) + (status == 0 ? " (equal)" : " (differs)");
}

// u16 offset, u8 count: a firmware chunk (offset in hex) or a file chunk.
std::string Chunk(Bytes data, bool hex_offset) {
  if (data.size() < 3) return "(short)";
  const std::uint16_t offset = U16(data, 0);
  return "offset=" + (hex_offset ? Hex16(offset) : std::to_string(offset)) + " count=" + std::to_string(data[2]);
}

std::string Block(Bytes data) {
  if (data.size() < link::kConstantsBlockSize) return "(short block)";
  const std::size_t id_length = std::min<std::size_t>(data[13], 20);
  const auto serial = static_cast<std::int32_t>(U16(data, 6) | (std::uint32_t{U16(data, 8)} << 16));
  return "block=" + std::to_string(U16(data, 0)) + " length=" + std::to_string(data[2]) +
         " local=" + std::to_string(data[3]) + " global=" + std::to_string(U16(data, 4)) +
         " serial=" + std::to_string(serial) + " tz=" + std::to_string(static_cast<std::int16_t>(U16(data, 10))) +
         " summer=" + std::to_string(data[12]) + " id=" + Quoted(data.subspan(14, id_length));
}

std::string Echo(Bytes data, bool with_status) {
  if (data.empty() || (with_status && data.size() < 3)) return "(short)";
  return "echo=" + Hex8(data[0]) + (with_status ? " " + Status(data[2]) : "");
}

std::string FileDetails(Bytes data) {
  if (data.size() < 7 || data.size() < 7u + data[6]) return "(short)";
  const std::uint16_t type = U16(data, 2);
  return "index=" + std::to_string(data[0]) + " type=" + Hex16(type) + " (" + device::FileTypeName(type) +
         ") size=" + std::to_string(U16(data, 4)) + " name=" + Quoted(data.subspan(7, data[6]));
}

std::string CreateFile(Bytes data) {
  if (data.size() < 5 || data.size() < 7u + data[4]) return "(short)";
  const std::size_t name_length = data[4];
  return "type=" + Hex16(U16(data, 0)) + " total=" + std::to_string(U16(data, 2)) +
         " name=" + Quoted(data.subspan(5, name_length)) + " data=" + std::to_string(U16(data, 5 + name_length));
}

std::string Index(Bytes data) { return data.empty() ? "(short)" : "index=" + std::to_string(data[0]); }

std::string Request(std::uint8_t code, Bytes data) {
  switch (code) {
    case link::kFirmwareWrite:
    case link::kFirmwareVerify: return Chunk(data, true);
    case link::kConstantsWrite:
    case link::kConstantsVerify:
    case link::kConstantsRead: return Block(data);
    case link::kFileDetails:
    case link::kDeleteFile: return Index(data);
    case link::kCreateFile: return CreateFile(data);
    case link::kFileChunk: return Chunk(data, false);
    default: return "";
  }
}

std::string Answer(std::uint8_t code, Bytes data) {
  switch (code) {
    case link::kFirmwareWrite:
    case link::kConstantsWrite: return Echo(data, false);
    case link::kFirmwareVerify:
    case link::kConstantsVerify: return Echo(data, true);
    case link::kConstantsRead: return Block(data);
    case link::kDirectory: return data.empty() ? "(short)" : "files=" + std::to_string(data[0]);
    case link::kFileDetails: return FileDetails(data);
    case link::kFreeSpace: return data.size() < 2 ? "(short)" : "free=" + std::to_string(U16(data, 0));
    default: return "";
  }
}

std::string Code(std::uint8_t code) {
  char text[8];
  std::snprintf(text, sizeof text, "%02u", unsigned{code});
  return text + (" " + CommandName(code));
}

std::string WithFields(std::string head, const std::string& fields) {
  return fields.empty() ? head : head + " " + fields;
}

}  // namespace

std::string CommandName(std::uint8_t code) {
  switch (code) {
    case link::kPoll: return "poll";
    case link::kFirmwareWrite: return "firmware-write";
    case link::kFirmwareVerify: return "firmware-verify";
    case link::kConstantsWrite: return "constants-write";
    case link::kConstantsVerify: return "constants-verify";
    case link::kConstantsRead: return "constants-read";
    case link::kDirectory: return "directory";
    case link::kFileDetails: return "file-details";
    case link::kFreeSpace: return "free-space";
    case link::kEraseAll: return "erase-all";
    case link::kDeleteFile: return "delete-file";
    case link::kCreateFile: return "create-file";
    case link::kFileChunk: return "file-chunk";
    default: return "unknown";
  }
}

std::string DescribeData(bool sent, std::uint8_t code, std::span<const std::uint8_t> data) {
  return sent ? Request(code, data) : Answer(code, data);
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (std::uint8_t byte : bytes) {
    if (!out.empty()) out += ' ';
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
  }
  return out;
}

std::unique_ptr<TraceWriter> TraceWriter::Open(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error) *error = "cannot write the trace \"" + path + "\": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<TraceWriter>(new TraceWriter(fd));
}

TraceWriter::~TraceWriter() { ::close(fd_); }

// A sent frame runs from its sync bytes to its checksum: the command at 5,
// the data from 6 up to the checksum.
void TraceWriter::FrameSent(std::span<const std::uint8_t> frame) {
  if (frame.size() < link::kMinFrameSize) return Write("out " + HexBytes(frame));
  const auto data = frame.subspan(6, frame.size() - link::kMinFrameSize);
  Write(WithFields("out " + Code(frame[5]), DescribeData(true, frame[5], data)) + " | " + HexBytes(frame));
}

// A received frame is good (its checksum matched), so building it again
// gives exactly the bytes that came in.
void TraceWriter::FrameReceived(const link::FrameView& frame) {
  const auto whole = link::BuildFrame(frame.command(), frame.data_bytes());
  Write(WithFields("in  " + Code(frame.command()), DescribeData(false, frame.command(), frame.data_bytes())) +
        " | " + HexBytes(whole));
}

void TraceWriter::Decision(link::LinkDecision decision, const link::QueueEntry* head) {
  std::string line = std::string("link ") + link::LinkDecisionName(decision);
  if (head) line += " " + WithFields(Code(head->command), DescribeData(true, head->command, head->Payload()));
  Write(line);
}

void TraceWriter::Log(const std::string& line) { Write("log " + line); }

// One write per line: nothing is held back in a buffer of this process.
void TraceWriter::Write(const std::string& what) {
  const auto elapsed = std::chrono::steady_clock::now() - start_;
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%10lld ",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()));
  const std::string line = stamp + what + "\n";
  std::size_t written = 0;
  while (written < line.size()) {
    const ssize_t done = ::write(fd_, line.data() + written, line.size() - written);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return;
    written += static_cast<std::size_t>(done);
  }
}

}  // namespace orvane::cli
