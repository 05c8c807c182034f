#include "station/step_text.h"

#include <filesystem>

#include "l10n/l10n.h"

namespace orvane::station {

std::string StepText(const Job& job, JobStep step, int plan) {
  using l10n::Tr;
  switch (step) {
    case JobStep::kImage: return Tr("image");
    case JobStep::kErase: return Tr("erase");
    case JobStep::kPlan: {
      const std::size_t index = plan > 0 ? static_cast<std::size_t>(plan - 1) : 0;
      const std::string name =
          index < job.plans.size() ? std::filesystem::path(job.plans[index]).filename().string() : "";
      return l10n::Format(Tr("plan %1$td (%2$s)"), static_cast<std::ptrdiff_t>(plan), name.c_str());
    }
    case JobStep::kConstants: return Tr("constants");
    case JobStep::kCheck: return Tr("check");
    case JobStep::kConnect: return Tr("connection");
    case JobStep::kIdentify: return Tr("reading the unit");
    case JobStep::kNone: break;
  }
  return "";
}

}  // namespace orvane::station
