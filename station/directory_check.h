// What the console's directory must show once an action that changes its
// files has gone through. The device answers create, delete and erase
// whatever it did with them (a full file table ignores a create), so only
// the refresh that follows tells whether the action took effect.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/model.h"

namespace orvane::station {

// A file as the directory check compares it: where it stands does not count.
struct ListedFile {
  std::string name;  // UTF-8, as stored
  std::uint16_t type = 0;
  long size = 0;

  bool operator==(const ListedFile&) const = default;
};

// The directory as the last refresh left it: the number of files the device
// reported and each file's details (empty where they did not come).
struct Listing {
  int count = 0;
  std::vector<ListedFile> files;
};

Listing ListingOf(const device::Directory& directory);

class DirectoryCheck {
 public:
  // Exactly one file more than before: the expected one.
  static DirectoryCheck ForPut(Listing before, ListedFile expected);
  // One file fewer: the one shown as number `number` before.
  static DirectoryCheck ForDelete(Listing before, int number);
  static DirectoryCheck ForErase();

  // Nothing when the directory after the action is as expected, else why not.
  std::optional<std::string> Failure(const Listing& after) const;

 private:
  enum class Kind { kPut, kDelete, kErase };
  DirectoryCheck(Kind kind, Listing before) : kind_(kind), before_(std::move(before)) {}

  std::optional<std::string> PutFailure(const Listing& after) const;
  std::optional<std::string> DeleteFailure(const Listing& after) const;

  Kind kind_;
  Listing before_;
  ListedFile changed_;  // put: the file expected; delete: the file to go
};

}  // namespace orvane::station
