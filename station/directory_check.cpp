#include "station/directory_check.h"

#include <algorithm>

#include "l10n/l10n.h"

namespace orvane::station {
namespace {

using l10n::Format;
using l10n::Tr;
using l10n::TrN;

std::string Files(long count) { return Format(TrN("%ld file", "%ld files", static_cast<unsigned long>(count)), count); }

std::string Describe(const ListedFile& file) {
  return Format(TrN("\"%s\" of %ld byte", "\"%s\" of %ld bytes", static_cast<unsigned long>(file.size)),
                file.name.c_str(), file.size);
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
      return Format(Tr("the console still shows %s after erasing all"), Files(after.count).c_str());
  }
  return std::nullopt;
}

// A create the device ignored leaves the count as it was; one applied twice
// (a resend taken as a new command) shows two new files.
std::optional<std::string> DirectoryCheck::PutFailure(const Listing& after) const {
  const int added = after.count - before_.count;
  if (added == 0) {
    return Format(Tr("the console did not store %1$s: it shows %2$s, as before"), Describe(changed_).c_str(),
                  Files(after.count).c_str());
  }
  if (added != 1) {
    return Format(Tr("the console shows %1$d files instead of %2$d after storing %3$s"), after.count,
                  before_.count + 1, Describe(changed_).c_str());
  }
  const std::vector<ListedFile> new_files = Without(after.files, before_.files);
  if (new_files.size() == 1 && new_files[0] == changed_) return std::nullopt;
  if (new_files.size() == 1) {
    return Format(Tr("the new file on the console is %1$s, not %2$s"), Describe(new_files[0]).c_str(),
                  Describe(changed_).c_str());
  }
  return Format(Tr("the directory of the console does not show %s as its one new file"), Describe(changed_).c_str());
}

std::optional<std::string> DirectoryCheck::DeleteFailure(const Listing& after) const {
  const int removed = before_.count - after.count;
  if (removed == 0) {
    return Format(Tr("the console still shows %1$s: %2$s was not deleted"), Files(after.count).c_str(),
                  Describe(changed_).c_str());
  }
  if (removed != 1) {
    return Format(Tr("the console shows %1$d files instead of %2$d after deleting one"), after.count,
                  before_.count - 1);
  }
  const std::vector<ListedFile> gone = Without(before_.files, after.files);
  if (gone.size() == 1 && gone[0] == changed_) return std::nullopt;
  return Format(Tr("the console removed another file than %s"), Describe(changed_).c_str());
}

}  // namespace orvane::station
