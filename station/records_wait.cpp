#include "station/records_wait.h"

namespace orvane::station {

bool RecordsWait::AskNow(Clock::time_point now) {
  if (now - asked_ < retry_) return false;
  asked_ = now;
  return true;
}

RecordsWait::Next RecordsWait::After(Clock::time_point now, bool answered) const {
  if (answered) return Next::kGoOn;
  if (bound_ && Length(now) >= *bound_) return Next::kGiveUp;
  return Next::kWait;
}

}  // namespace orvane::station
