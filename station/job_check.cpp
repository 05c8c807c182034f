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

// The data bytes a plan is stored with; nothing for a ring plan without its
// length field.
std::optional<std::size_t> StoredSize(const SnapshotFile& plan) {
  if (device::FileTypeForPath(plan.path) != 0x5256) return plan.bytes.size();
  if (plan.bytes.size() < device::kCircularPlanLength + 2) return std::nullopt;
  return device::ConvertCircularPlan(plan.bytes).size();
}

// A plan as the directory shows it once uploaded.
ListedFile ExpectedFile(const SnapshotFile& plan) {
  return {link::Cp1251ToUtf8(device::DeviceFileName(plan.path)), device::FileTypeForPath(plan.path),
          static_cast<long>(StoredSize(plan).value_or(0))};
}

bool Before(const ListedFile& a, const ListedFile& b) {
  return std::tie(a.name, a.type, a.size) < std::tie(b.name, b.type, b.size);
}

}  // namespace

std::optional<std::string> JobMismatch(const JobSnapshot& snapshot, const device::DeviceModel& model,
                                       std::optional<std::int64_t> serial) {
  const device::ConstantsFields& f = model.fields;
  if (!device::Holds(f, snapshot.job.constants) || (serial && f.serial_number != *serial)) {
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

std::string PlanRefusal(const SnapshotFile& plan, const device::DeviceModel& model) {
  const auto size = StoredSize(plan);
  if (!size) return model.status_panel;
  const std::int64_t needed = device::FileSpaceNeeded(device::DeviceFileName(plan.path).size(), *size);
  if (model.free_space >= needed) return model.status_panel;
  return Format(Tr("%1$s: %2$lld bytes free, the plan needs %3$lld"), device::kStatusFileTooBig,
                static_cast<long long>(model.free_space), static_cast<long long>(needed));
}

std::string ImageRefusal(const SnapshotFile& image) {
  return Format(Tr("%1$s: the image has %2$zu bytes, the largest is %3$zu"), device::kStatusFirmwareTooBig,
                image.bytes.size(), device::kFirmwareLimit - 1);
}

}  // namespace orvane::station
