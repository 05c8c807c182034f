#include "app/demo_files.h"

#include <QDir>
#include <QFile>

#include <algorithm>

#include "link/cp1251.h"
#include "link/payloads.h"

namespace orvane::app {
namespace {

using Bytes = std::vector<std::uint8_t>;

void PutU16(Bytes& out, std::size_t at, std::uint16_t value) {
  out[at] = static_cast<std::uint8_t>(value);
  out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

bool WriteFile(const QString& path, const Bytes& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  const auto size = static_cast<qint64>(bytes.size());
  return file.write(reinterpret_cast<const char*>(bytes.data()), size) == size;
}

}  // namespace

// January 1st is a Monday; Saturdays get day plan 2, Sundays 3, and a few
// public holidays 4.
Bytes DemoYearlyPlan() {
  constexpr int kMonthDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  constexpr int kHolidays[][2] = {{1, 1}, {1, 7}, {3, 8}, {5, 1}, {5, 9}, {6, 12}, {11, 4}};
  Bytes plan{'Y', 'P', 1, 4};
  int weekday = 0;
  for (int month = 1; month <= 12; ++month) {
    for (int day = 1; day <= kMonthDays[month - 1]; ++day, weekday = (weekday + 1) % 7) {
      std::uint8_t kind = weekday == 5 ? 2 : weekday == 6 ? 3 : 1;
      for (const auto& holiday : kHolidays)
        if (holiday[0] == month && holiday[1] == day) kind = 4;
      plan.push_back(kind);
    }
  }
  for (std::uint8_t day_plan = 1; day_plan <= 4; ++day_plan) {
    for (std::uint8_t point = 0; point < 6; ++point) {
      plan.push_back(static_cast<std::uint8_t>(5 + point * 3));  // hour
      plan.push_back(static_cast<std::uint8_t>(day_plan * 15 % 60));  // minute
      plan.push_back(static_cast<std::uint8_t>(1 + (point + day_plan) % 5));  // program
    }
  }
  return plan;
}

Bytes DemoRingPlan() {
  constexpr std::size_t kSize = 1100;
  constexpr std::uint16_t kPayload = 96;  // 76 bytes at the end, 20 from the start
  Bytes file(kSize);
  for (std::size_t i = 0; i < kSize; ++i) file[i] = static_cast<std::uint8_t>(i * 7 + 3);
  PutU16(file, 1029, kPayload);
  return file;
}

// A linear congruential sequence: the same bytes on every run.
Bytes DemoFirmware(std::size_t size) {
  Bytes image(size);
  std::uint32_t state = 0x4B563830;  // "KV80"
  for (auto& byte : image) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return image;
}

link::ConstantsBlockBytes DemoConstants() {
  link::ConstantsBlock fields;
  fields.number = link::ConstantsBlock::kNumber;
  fields.data_length = link::ConstantsBlock::kDataLength;
  fields.local_address = 12;
  fields.global_address = 3456;
  fields.serial_number = 800179;
  fields.time_zone = 180;  // UTC+3, in minutes
  fields.summer = 1;       // summer time: standard
  const Bytes identifier = link::Utf8ToCp1251("Пульт демо-стенда");
  fields.identifier_length = static_cast<std::uint8_t>(identifier.size());
  std::copy(identifier.begin(), identifier.end(), fields.identifier.begin());
  link::ConstantsBlockBytes block{};
  fields.EncodeInto(block);
  return block;
}

QStringList WriteDemoFiles(const QString& folder) {
  const QDir dir(folder);
  const QList<QPair<QString, Bytes>> files{
      {QStringLiteral("годовой план.yp1"), DemoYearlyPlan()},
      {QStringLiteral("кольцевой план.R0"), DemoRingPlan()},
      {QStringLiteral("прошивка.mts"), DemoFirmware(3000)},
  };
  QStringList paths;
  for (const auto& [name, bytes] : files) {
    const QString path = dir.filePath(name);
    if (!WriteFile(path, bytes)) return {};
    paths.append(path);
  }
  return paths;
}

}  // namespace orvane::app
