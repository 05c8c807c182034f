#include "station/frame_trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "device/session.h"
#include "link/commands.h"
#include "link/cp1251.h"
#include "link/payloads.h"

#include <nlohmann/json.hpp>

namespace orvane::station {
namespace {

using Bytes = std::span<const std::uint8_t>;

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

std::string Quoted(Bytes cp1251) {
  return nlohmann::json(link::Cp1251ToUtf8(cp1251)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string Status(std::uint8_t status) {
  return "status=" + std::to_string(status) + (status == 0 ? " (equal)" : " (differs)");
}

// u16 offset, u8 count: a firmware chunk (offset in hex) or a file chunk.
std::string Chunk(Bytes data, bool hex_offset) {
  const auto chunk = link::ChunkHead::Decode(data);
  if (!chunk) return "(short)";
  return "offset=" + (hex_offset ? Hex16(chunk->offset) : std::to_string(chunk->offset)) +
         " count=" + std::to_string(chunk->count);
}

std::string Block(Bytes data) {
  const auto block = link::ConstantsBlock::Decode(data);
  if (!block) return "(short block)";
  return "block=" + std::to_string(block->number) + " length=" + std::to_string(block->data_length) +
         " local=" + std::to_string(block->local_address) + " global=" + std::to_string(block->global_address) +
         " serial=" + std::to_string(block->serial_number) + " tz=" + std::to_string(block->time_zone) +
         " summer=" + std::to_string(block->summer) + " id=" + Quoted(block->Identifier());
}

std::string Echo(Bytes data, bool with_status) {
  if (data.empty() || (with_status && data.size() < 3)) return "(short)";
  return "echo=" + Hex8(data[0]) + (with_status ? " " + Status(data[2]) : "");
}

std::string FileDetails(Bytes data) {
  const auto details = link::FileDetails::Decode(data);
  if (!details) return "(short)";
  return "index=" + std::to_string(details->index) + " type=" + Hex16(details->type) + " (" +
         device::FileTypeName(details->type) + ") size=" + std::to_string(details->size) +
         " name=" + Quoted(details->name);
}

std::string CreateFile(Bytes data) {
  const auto header = link::DeviceFileHeader::Decode(data);
  if (!header) return "(short)";
  return "type=" + Hex16(header->type) + " total=" + std::to_string(header->total) + " name=" + Quoted(header->name) +
         " data=" + std::to_string(header->data_length);
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
    case link::kFreeSpace: return data.size() < 2 ? "(short)" : "free=" + std::to_string(link::GetU16(data, 0));
    default: return "";
  }
}

std::string Code(std::uint8_t code) {
  char text[8];
  std::snprintf(text, sizeof text, "%02u", unsigned{code});
  return text + (" " + std::string(link::CommandName(code)));
}

std::string WithFields(std::string head, const std::string& fields) {
  return fields.empty() ? head : head + " " + fields;
}

}  // namespace

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
  return OpenWith(path, O_TRUNC, error);
}

std::unique_ptr<TraceWriter> TraceWriter::Create(const std::string& path, std::string* error) {
  return OpenWith(path, O_EXCL, error);
}

std::unique_ptr<TraceWriter> TraceWriter::OpenWith(const std::string& path, int flags, std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644);
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

void TraceWriter::Note(const std::string& line) { Write(line); }

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

}  // namespace orvane::station
