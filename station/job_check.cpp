#include "station/job_check.h"

#include <algorithm>
#include <tuple>
#include <vector>

#include "device/session.h"
#include "l10n/l10n.h"
#include "link/cp1251.h"
#include "station/directory_check.h"

namespace orvane::station {
namespace {

using l10n::Format;
using l10n::Tr;

// A plan as the directory shows it once uploaded.
ListedFile ExpectedFile(const SnapshotFile& plan) {
  const std::uint16_t type = device::FileTypeForPath(plan.path);
  const std::size_t size =
      type == 0x5256 ? device::ConvertCircularPlan(plan.bytes).size() : plan.bytes.size();
  return {link::Cp1251ToUtf8(device::DeviceFileName(plan.path)), type, static_cast<long>(size)};
}

bool Before(const ListedFile& a, const ListedFile& b) {
  return std::tie(a.name, a.type, a.size) < std::tie(b.name, b.type, b.size);
}

}  // namespace

std::optional<std::string> JobMismatch(const JobSnapshot& snapshot, const device::DeviceModel& model,
                                       std::optional<std::int64_t> serial) {
  const device::ConstantsFields& f = model.fields;
  const Constants& c = snapshot.job.constants;
  if ((c.identifier && f.identifier != *c.identifier) || (c.time_zone && f.time_zone != *c.time_zone) ||
      (c.summer && f.summer_index != *c.summer) || (c.local_address && f.local_address != *c.local_address) ||
      (c.global_address && f.global_address != *c.global_address) || (serial && f.serial_number != *serial)) {
    return std::string(Tr("the constants read at the end differ from the job's"));
  }
  std::vector<ListedFile> expected;
  for (const SnapshotFile& plan : snapshot.plans) expected.push_back(ExpectedFile(plan));
  const Listing listing = ListingOf(model.directory);
  std::vector<ListedFile> shown = listing.files;
  std::sort(expected.begin(), expected.end(), Before);
  std::sort(shown.begin(), shown.end(), Before);
  if (snapshot.job.erase) {
    if (listing.count != static_cast<int>(expected.size()) || shown != expected) {
      return Format(Tr("the console holds %1$d files at the end, not exactly the job's %2$zu plans"), listing.count,
                    expected.size());
    }
  } else if (!std::includes(shown.begin(), shown.end(), expected.begin(), expected.end(), Before)) {
    return std::string(Tr("the console does not hold every plan of the job at the end"));
  }
  return std::nullopt;
}

}  // namespace orvane::station
