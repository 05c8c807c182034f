// Plan files for the demo console, made up here: their layouts are this
// simulator's own and only need to look plausible in the file table.
#include <array>

#include "link/cp1251.h"
#include "sim/simulator.h"

namespace orvane::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kLightingPlan = 0x0001;
constexpr std::uint16_t kTrafficYearlyPlan = 0x0002;
constexpr std::uint16_t kRingPlan = 0x5256;

void PutU16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

// Names are the path the file came from, of odd length as the configurator
// stores them (an even one gets a trailing space).
Bytes StoredName(const char* utf8) {
  Bytes name = link::Utf8ToCp1251(utf8);
  if (name.size() % 2 == 0) name.push_back(' ');
  return name;
}

// A leap year that starts on a Monday: day plan 1 on working days, 2 on
// Saturdays, 3 on Sundays, 4 on public holidays; then four day plans of eight
// switch points (hour, minute, signal program).
Bytes YearlyPlan() {
  constexpr std::array<int, 12> kMonthDays{31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  constexpr std::array<std::array<int, 2>, 12> kHolidays{{
      {1, 1}, {1, 2}, {1, 3}, {1, 4}, {1, 5}, {1, 6}, {1, 7}, {1, 8},
      {2, 23}, {3, 8}, {5, 1}, {5, 9}}};
  Bytes plan{1, 4};
  int weekday = 0;
  for (int month = 1; month <= 12; ++month) {
    for (int day = 1; day <= kMonthDays[month - 1]; ++day, weekday = (weekday + 1) % 7) {
      std::uint8_t kind = weekday == 5 ? 2 : weekday == 6 ? 3 : 1;
      for (const auto& holiday : kHolidays) {
        if (holiday[0] == month && holiday[1] == day) kind = 4;
      }
      plan.push_back(kind);
    }
  }
  for (std::uint8_t day_plan = 1; day_plan <= 4; ++day_plan) {
    for (std::uint8_t point = 0; point < 8; ++point) {
      plan.push_back(static_cast<std::uint8_t>(point * 3));
      plan.push_back(static_cast<std::uint8_t>(day_plan * 5 % 60));
      plan.push_back(static_cast<std::uint8_t>(1 + (point + day_plan) % 6));
    }
  }
  return plan;
}

// A ring plan as the configurator cuts it out of its file: the payload
// carries its own length at bytes 5 and 6, then phases of eight bytes.
Bytes RingPlan() {
  constexpr std::uint16_t kPhases = 12;
  Bytes plan{'R', 'V', 'M', '8', 1};
  PutU16(plan, 7 + kPhases * 8);
  for (std::uint8_t phase = 0; phase < kPhases; ++phase) {
    plan.push_back(phase);
    plan.push_back(static_cast<std::uint8_t>(10 + phase * 2));  // green, s
    plan.push_back(3);                                           // amber, s
    plan.push_back(static_cast<std::uint8_t>(0x0F >> (phase % 4)));
    PutU16(plan, static_cast<std::uint16_t>(phase * 40));         // start, s
    PutU16(plan, static_cast<std::uint16_t>(phase * 40 + 30));    // end, s
  }
  return plan;
}

// Switch-on and switch-off minutes of street lighting for each month.
Bytes LightingPlan() {
  constexpr std::array<std::uint16_t, 12> kDusk{990, 1040, 1110, 1180, 1250, 1290,
                                                1280, 1220, 1140, 1060, 990, 960};
  Bytes plan{1, 12};
  for (std::uint16_t dusk : kDusk) {
    PutU16(plan, dusk);
    PutU16(plan, static_cast<std::uint16_t>(dusk - 720 + 60));
  }
  return plan;
}

}  // namespace

std::vector<SimFile> SampleFiles() {
  return {
      SimFile{kTrafficYearlyPlan, StoredName("C:\\Планы\\Перекресток 12.yp1"), YearlyPlan()},
      SimFile{kRingPlan, StoredName("C:\\Планы\\Кольцо 3.R0"), RingPlan()},
      SimFile{kLightingPlan, StoredName("C:\\Планы\\Освещение парка.L7Q"), LightingPlan()},
  };
}

}  // namespace orvane::sim
