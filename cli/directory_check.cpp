#include "cli/directory_check.h"

#include <algorithm>

namespace orvane::cli {
namespace {

std::string Plural(long count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string Describe(const ListedFile& file) {
  return "\"" + file.name + "\" of " + Plural(file.size, "byte", "bytes");
}

// The entries of `from` that `minus` does not account for, one for one.
std::vector<ListedFile> Without(std::vector<ListedFile> from, const std::vector<ListedFile>& minus) {
  for (const ListedFile& file : minus) {
    const auto found = std::find(from.begin(), from.end(), file);
    if (found != from.end()) from.erase(found);
  }
  return from;
}

}  // namespace

// Files whose details did not come stay in the listing as empty entries, so
// that entry i is the file shown as number i + 1.
Listing ListingOf(const device::Directory& directory) {
  Listing listing;
  listing.count = directory.count();
  for (const auto& file : directory.files) {
    listing.files.push_back(file ? ListedFile{file->name, file->type, file->size} : ListedFile{});
  }
  return listing;
}

DirectoryCheck DirectoryCheck::ForPut(Listing before, ListedFile expected) {
  DirectoryCheck check(Kind::kPut, std::move(before));
  check.changed_ = std::move(expected);
  return check;
}

DirectoryCheck DirectoryCheck::ForDelete(Listing before, int number) {
  DirectoryCheck check(Kind::kDelete, std::move(before));
  if (number >= 1 && number <= static_cast<int>(check.before_.files.size())) {
    check.changed_ = check.before_.files[number - 1];
  }
  return check;
}

DirectoryCheck DirectoryCheck::ForErase() { return DirectoryCheck(Kind::kErase, {}); }

std::optional<std::string> DirectoryCheck::Failure(const Listing& after) const {
  switch (kind_) {
    case Kind::kPut: return PutFailure(after);
    case Kind::kDelete: return DeleteFailure(after);
    case Kind::kErase:
      if (after.count == 0) return std::nullopt;
      return "the console still shows " + Plural(after.count, "file", "files") + " after erasing all";
  }
  return std::nullopt;
}

// A create the device ignored leaves the count as it was; one applied twice
// (a resend taken as a new command) shows two new files.
std::optional<std::string> DirectoryCheck::PutFailure(const Listing& after) const {
  const int added = after.count - before_.count;
  if (added == 0) {
    return "the console did not store " + Describe(changed_) + ": it shows " +
           Plural(after.count, "file", "files") + ", as before";
  }
  if (added != 1) {
    return "the console shows " + std::to_string(after.count) + " files instead of " +
           std::to_string(before_.count + 1) + " after storing " + Describe(changed_);
  }
  const std::vector<ListedFile> new_files = Without(after.files, before_.files);
  if (new_files.size() == 1 && new_files[0] == changed_) return std::nullopt;
  if (new_files.size() == 1) {
    return "the new file on the console is " + Describe(new_files[0]) + ", not " + Describe(changed_);
  }
  return "the directory of the console does not show " + Describe(changed_) + " as its one new file";
}

std::optional<std::string> DirectoryCheck::DeleteFailure(const Listing& after) const {
  const int removed = before_.count - after.count;
  if (removed == 0) {
    return "the console still shows " + Plural(after.count, "file", "files") + ": " + Describe(changed_) +
           " was not deleted";
  }
  if (removed != 1) {
    return "the console shows " + std::to_string(after.count) + " files instead of " +
           std::to_string(before_.count - 1) + " after deleting one";
  }
  const std::vector<ListedFile> gone = Without(before_.files, after.files);
  if (gone.size() == 1 && gone[0] == changed_) return std::nullopt;
  return "the console removed another file than " + Describe(changed_);
}

}  // namespace orvane::cli
