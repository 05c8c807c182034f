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
  return {link::Cp1251ToUtf8(device::DeviceFileName(plan.path)), device::FileTypeForPath(plan.path),
          static_cast<long>(device::StoredPlanSize(plan.path, plan.bytes).value_or(0))};
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

std::string PlanRefusal(const SnapshotFile& plan, const device::DeviceModel& model) {
  const device::PlanVerdict verdict = device::CheckPlanUpload(plan.path, plan.bytes, model.free_space);
  if (verdict.rule != device::PlanRule::kNoRoom) return model.status_panel;
  return Format(Tr("%1$s: %2$lld bytes free, the plan needs %3$lld"), device::kStatusFileTooBig,
                static_cast<long long>(verdict.free), static_cast<long long>(verdict.needed));
}

std::string ImageRefusal(const SnapshotFile& image) {
  return Format(Tr("%1$s: the image has %2$zu bytes, the largest is %3$zu"), device::kStatusFirmwareTooBig,
                image.bytes.size(), static_cast<std::size_t>(device::kImageLimit));
}

std::optional<JobFileRefusal> CheckJobFiles(const Job& job, bool force) {
  using Part = JobFileRefusal::Part;
  if (job.image) {
    const device::FileLook look = device::LookAtFile(*job.image);
    if (look.access != device::FileAccess::kReadable) return JobFileRefusal{Part::kImage, *job.image, look};
    const device::ImageVerdict verdict = device::CheckImage(*job.image, look.size, force);
    if (!verdict.Accepted()) return JobFileRefusal{Part::kImage, *job.image, verdict};
  }
  for (const std::string& plan : job.plans) {
    const device::FileLook look = device::LookAtFile(plan);
    if (look.access != device::FileAccess::kReadable) return JobFileRefusal{Part::kPlan, plan, look};
    const device::PlanVerdict verdict = device::CheckPlanFile(plan, look.size);
    if (!verdict.Accepted()) return JobFileRefusal{Part::kPlan, plan, verdict};
  }
  return std::nullopt;
}

}  // namespace orvane::station
