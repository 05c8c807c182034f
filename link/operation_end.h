// How an operation ended, as a value. An operation runs from the first
// command queued into an empty queue until the queue is empty again; the
// link control reports its end to its host once, and the log lines it
// writes on the way are one rendering of that report. Refusals come from the
// device actions: a file or image refused before anything was queued.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "link/frame.h"

namespace orvane::link {

// The log lines of the link control; the only place these texts live.
inline constexpr const char* kLogDone = "Операция успешно завершена.";
inline constexpr const char* kLogQueueCleared = "Очередь команд очищена!";
inline constexpr const char* kLogConnected = "Установлена связь с модемом.";
inline constexpr const char* kLogNotConnected = "Модем не подключен!";
inline constexpr const char* kLogVerifyError = "Ошибка верификации записанных данных!";
// The head went unanswered too long while the device kept polling.
inline constexpr const char* kLogNoAnswer = "Модем не отвечает на команды!";
// The port hung up or failed while open (a pulled USB adapter).
inline constexpr const char* kLogPortLost = "Порт связи потерян!";
// The program was told to stop while commands waited.
inline constexpr const char* kLogCancelled = "Операция прервана!";
// What an operation cut short leaves on the console.
inline constexpr const char* kLogProgramIncomplete =
    "Основная программа пульта записана не полностью. Повторите прошивку!";
inline constexpr const char* kLogProgramUnverified =
    "Основная программа пульта записана, но не проверена. Повторите прошивку!";
inline constexpr const char* kLogProgramDiffers =
    "Основная программа пульта записана с ошибками. Повторите прошивку!";
inline constexpr const char* kLogFileIncomplete =
    "Файл в пульте записан не полностью. Удалите его и добавьте снова!";

// Why the queue was cleared before it ran empty.
enum class EndCause {
  kVerifyFailed,     // the device reported a difference (firmware or constants)
  kNoAnswer,         // the head stayed unanswered while the device polled
  kNotConnected,     // no poll came for the watchdog's whole interval
  kPortLost,         // the port hung up or failed while open
  kCancelled,        // the program was told to stop
  kClearedByAnswer,  // the answer that ends a refresh came with entries behind it
  kPortClosed,       // the port was closed with entries still queued
};

// Why a device action queued nothing.
enum class Refusal {
  kPlanTooBig,      // the device file does not fit the free space
  kFirmwareTooBig,  // the image has 65536 bytes or more
  kPlanTooShort,    // a ring plan without its length field
  kNameTooLong,     // the stored name does not fit one frame
};

// What a cleared queue still held: the part of the operation that did not
// reach the device.
struct Leftover {
  std::size_t entries = 0;
  std::size_t firmware_writes = 0;    // command 1
  std::size_t firmware_verifies = 0;  // command 2
  std::size_t file_creates = 0;       // command 21
  std::size_t file_chunks = 0;        // command 22
  // The head had gone out at least once: the device may have applied it.
  bool head_sent = false;
  // A firmware write chunk went out in this operation: the console's main
  // program is no longer what it was.
  bool firmware_written = false;
  // A file had been created and not all of its chunks were answered.
  bool file_in_progress = false;

  void Count(const QueueEntry& entry);
};

struct OperationEnd {
  enum class Kind { kDone, kCleared, kRefused };

  Kind kind = Kind::kDone;
  EndCause cause = EndCause::kPortClosed;     // kCleared
  std::uint8_t verify_command = 0;            // kVerifyFailed: 2 or 4
  std::optional<std::uint16_t> verify_offset; // kVerifyFailed on a firmware chunk that was sent
  Leftover left;                              // kCleared
  Refusal refusal = Refusal::kPlanTooBig;     // kRefused
  std::string file;                           // kRefused: the path as given

  static OperationEnd Done() { return {}; }
  static OperationEnd Cleared(EndCause cause, Leftover left) {
    OperationEnd outcome;
    outcome.kind = Kind::kCleared;
    outcome.cause = cause;
    outcome.left = left;
    return outcome;
  }
  static OperationEnd Refused(Refusal refusal, std::string file) {
    OperationEnd outcome;
    outcome.kind = Kind::kRefused;
    outcome.refusal = refusal;
    outcome.file = std::move(file);
    return outcome;
  }
  bool done() const { return kind == Kind::kDone; }
};

// The log line that says what an operation cut short leaves on the console,
// or nullptr when it leaves nothing changed or half done.
const char* LeftoverLine(const OperationEnd& outcome);

}  // namespace orvane::link
