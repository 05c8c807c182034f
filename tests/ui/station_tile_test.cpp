#include "ui/station_tile.h"

#include <QDateTime>
#include <QLabel>

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace orvane::ui {
namespace {

using station::FailureCause;
using station::JobStep;
using station::LineState;
using station::PositionEvent;
using namespace std::chrono_literals;

PositionEvent Event(LineState state) {
  PositionEvent event;
  event.state = state;
  return event;
}

struct TileCase {
  const char* what;
  PositionEvent event;
  QString headline, detail, action, facts;
  int percent;
};

std::vector<TileCase> Cases() {
  PositionEvent running = Event(LineState::kRunning);
  running.step = JobStep::kPlan;
  running.plan = 2;
  running.step_index = 3;
  running.steps = 5;
  running.percent = 37;
  running.adapter_serial = "A50285BI";
  PositionEvent done = Event(LineState::kDone);
  done.serial = 100001;
  done.took = 65'400ms;
  done.adapter_serial = "A50285BI";
  PositionEvent already = Event(LineState::kAlreadyDone);
  already.serial = 100000;
  already.done_at = QDateTime(QDate(2026, 12, 9), QTime(14, 49), Qt::LocalTime).toUTC().toString(Qt::ISODateWithMs).toStdString();
  PositionEvent failed = Event(LineState::kFailed);
  failed.step = JobStep::kImage;
  failed.cause = FailureCause::kLinkCleared;
  failed.detail = "Модем не отвечает на команды!";
  failed.took = 12'345ms;
  PositionEvent foreign = Event(LineState::kFailed);
  foreign.step = JobStep::kIdentify;
  foreign.cause = FailureCause::kForeignSerial;
  PositionEvent stopped = Event(LineState::kStopped);
  stopped.step = JobStep::kErase;
  stopped.cause = FailureCause::kStopped;
  PositionEvent pulled = failed;
  pulled.cause = FailureCause::kPortLost;
  pulled.detail.clear();
  pulled.took = 0ms;
  pulled.holds = station::UnitHolds{station::MainProgram::kWrittenInPart, station::UnitFiles::kUntouched};
  PositionEvent stopped_mid_file = stopped;
  stopped_mid_file.step = JobStep::kPlan;
  stopped_mid_file.plan = 2;
  stopped_mid_file.holds = station::UnitHolds{station::MainProgram::kNotVerified, station::UnitFiles::kFileInPart, 2};
  PositionEvent unrecorded = foreign;
  unrecorded.step = JobStep::kCheck;
  unrecorded.cause = FailureCause::kRecords;
  unrecorded.holds = station::UnitHolds{station::MainProgram::kWhole, station::UnitFiles::kAsJobWants, 0, true, true,
                                        true};
  PositionEvent records = Event(LineState::kWaitingRecords);
  records.detail = "connection refused";
  PositionEvent overrun = running;
  overrun.percent = 140;
  overrun.adapter_serial.clear();
  return {
      {"no adapter", Event(LineState::kNoPort), "Нет адаптера", "Вставьте адаптер в гнездо", "", "", -1},
      {"no modem", Event(LineState::kNoModem), "Нет пульта", "Подключите пульт", "", "", -1},
      {"arrived", Event(LineState::kArrived), "Пульт подключён", "Чтение констант", "", "", -1},
      {"running", running, "Шаг 3 из 5", "План 2", "Не отключайте пульт", "Адаптер A50285BI", 37},
      {"progress over 100", overrun, "Шаг 3 из 5", "План 2", "Не отключайте пульт", "", 100},
      {"waiting for records", records, "Ждём базу записей", "База записей недоступна: connection refused",
       "Не отключайте пульт", "", -1},
      {"done", done, "Готово", "Номер 100001", "Снимите пульт", "Адаптер A50285BI · за 1 мин 05 с", -1},
      {"already done", already, "Уже готов", "Номер 100000 · сделан 09.12.2026 14:49", "Снимите пульт", "", -1},
      {"failed", failed, "Ошибка", "Шаг «Прошивка»: Связь прервана: Модем не отвечает на команды!",
       "Пульт нужно вернуть", "за 12,3 с", -1},
      {"foreign number", foreign, "Ошибка", "Шаг «Чтение констант»: Номер пульта выдан другой базой записей",
       "Пульт нужно вернуть", "", -1},
      {"stopped", stopped, "Остановлен", "Шаг «Стирание файлов»: работа прервана", "Пульт нужно вернуть", "", -1},
      {"cable pulled mid-image", pulled, "Ошибка",
       "Шаг «Прошивка»: Адаптер отключили во время работы\nОсновная программа записана не полностью",
       "Пульт нужно вернуть", "", -1},
      {"stopped mid-file", stopped_mid_file, "Остановлен",
       "Шаг «План 2»: работа прервана\nОсновная программа записана, но не проверена; План 2 записан не полностью",
       "Пульт нужно вернуть", "", -1},
      {"whole job, its end not recorded", unrecorded, "Ошибка", "Шаг «Проверка»: База записей недоступна",
       "Пульт нужно вернуть", "", -1},
  };
}

TEST(StationTileTest, EventsAreRenderedInWordsForTheOperator) {
  for (const TileCase& c : Cases()) {
    SCOPED_TRACE(c.what);
    const TileLook look = LookOf(c.event);
    EXPECT_EQ(look.headline, c.headline);
    EXPECT_EQ(look.detail, c.detail);
    EXPECT_EQ(look.action, c.action);
    EXPECT_EQ(look.facts, c.facts);
    EXPECT_EQ(look.percent, c.percent);
  }
}

double Luminance(const QColor& colour) {
  const auto channel = [](double value) {
    value /= 255.0;
    return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(colour.red()) + 0.7152 * channel(colour.green()) + 0.0722 * channel(colour.blue());
}

// Read at a metre and never by colour alone: each state has strong contrast,
// a symbol, and a symbol with a border pattern of its own among the states
// that ask different things of the operator.
TEST(StationTileTest, EveryStateIsReadableAndToldApartWithoutColour) {
  std::set<std::pair<QString, int>> signs;
  std::set<QString> headlines;
  for (LineState state : {LineState::kNoPort, LineState::kNoModem, LineState::kArrived, LineState::kRunning,
                          LineState::kWaitingRecords, LineState::kDone, LineState::kAlreadyDone, LineState::kFailed,
                          LineState::kStopped}) {
    const TileLook look = LookOf(Event(state));
    SCOPED_TRACE(look.headline.toStdString());
    const double lighter = std::max(Luminance(look.background), Luminance(look.text));
    const double darker = std::min(Luminance(look.background), Luminance(look.text));
    EXPECT_GE((lighter + 0.05) / (darker + 0.05), 7.0);
    EXPECT_FALSE(look.symbol.isEmpty());
    headlines.insert(look.headline);
    signs.insert({look.symbol, static_cast<int>(look.border)});
  }
  EXPECT_EQ(headlines.size(), 9u);
  // Done and already done share the sign of "take it off"; the others differ.
  EXPECT_EQ(signs.size(), 8u);
}

TEST(StationTileTest, DurationsReadAsSecondsThenMinutes) {
  const struct {
    std::chrono::milliseconds took;
    const char* text;
  } cases[] = {{0ms, "0,0 с"}, {950ms, "0,9 с"}, {12'345ms, "12,3 с"}, {59'999ms, "59,9 с"},
               {60'000ms, "1 мин 00 с"}, {3'725'000ms, "62 мин 05 с"}};
  for (const auto& c : cases) EXPECT_EQ(DurationText(c.took), QString::fromUtf8(c.text)) << c.took.count();
}

TEST(StationTileTest, TileShowsTheLastEventOfItsPosition) {
  StationTile tile(QStringLiteral("Место 3"), QStringLiteral("pci-0000:00:14.0-usb-0:1.3:1.0-port0"));
  EXPECT_EQ(tile.Name(), "Место 3");
  EXPECT_EQ(tile.Look().headline, "Нет пульта");
  PositionEvent failed = Event(LineState::kFailed);
  failed.cause = FailureCause::kModemLeft;
  tile.Show(failed);
  QStringList shown;
  for (const QLabel* label : tile.findChildren<QLabel*>()) {
    if (!label->isHidden()) shown << label->text();
  }
  EXPECT_TRUE(shown.contains("Ошибка"));
  EXPECT_TRUE(shown.contains("Пульт отключили во время работы"));
  EXPECT_TRUE(shown.contains("Пульт нужно вернуть"));
  EXPECT_EQ(tile.palette().color(QPalette::Window), LookOf(failed).background);
}

}  // namespace
}  // namespace orvane::ui
