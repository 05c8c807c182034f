// The window against a simulated console on a pseudo-terminal: what the
// actions show in the window and what they change on the device.
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QComboBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>

#include "link/cp1251.h"
#include "link/operation_end.h"
#include "sim/simulator.h"
#include "tests/ui/window_fixture.h"
#include "ui/zqedit.h"

namespace orvane::ui::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kCapacity = 16384;
const char* const kDone = "Операция успешно завершена.";

sim::SimFile File(std::uint16_t type, const char* name, std::size_t size, std::uint8_t seed) {
  sim::SimFile file;
  file.type = type;
  file.name = link::Utf8ToCp1251(name);
  for (std::size_t i = 0; i < size; ++i) file.data.push_back(static_cast<std::uint8_t>(seed + i));
  return file;
}

std::size_t StoredSize(const sim::SimFile& file) { return 7 + file.name.size() + file.data.size(); }

std::array<std::uint8_t, 34> Constants() {
  std::array<std::uint8_t, 34> block{2, 0, 31};
  block[3] = 17;                       // local address
  block[4] = 0x39, block[5] = 0x30;    // global address 12345
  block[6] = 0x40, block[7] = 0xE2, block[8] = 0x01, block[9] = 0x00;  // serial 123456
  block[10] = 0x88, block[11] = 0xFF;  // -120 minutes
  block[12] = 1;                       // summer time
  const Bytes identifier = link::Utf8ToCp1251("Пульт 7");
  block[13] = static_cast<std::uint8_t>(identifier.size());
  std::copy(identifier.begin(), identifier.end(), block.begin() + 14);
  return block;
}

class WindowOnConsoleTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    sim::DeviceState state;
    state.files = {File(2, "C:\\Планы\\Город.yp1", 40, 1), File(0x5256, "C:\\Планы\\Кольцо.R0 ", 20, 9)};
    state.constants = Constants();
    console = std::make_unique<sim::Simulator>(sim::SimOptions{}, state);
    serial::SaveComPort(console->Start());
  }
  void TearDown() override {
    WindowTest::TearDown();
    console.reset();
  }

  // Waits for the operation under way to finish: one more completion line
  // and an empty queue.
  bool Finished(qsizetype done_before) {
    return WaitUntil([&] {
      return Log().count(kDone) > done_before && form->Session().link().queue().empty();
    });
  }

  QString Cell(int row, int column) const {
    const QTableWidgetItem* item = form->StringGrid1->item(row, column);
    return item ? item->text() : QString();
  }

  void DoubleClickCell(int row) {
    QTableWidget* grid = form->StringGrid1;
    const QRect cell = grid->visualItemRect(grid->item(row, 0));
    DoubleClick(grid->viewport(), cell.center());
  }

  QString Write(const QString& name, const Bytes& bytes) {
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    return path;
  }

  std::unique_ptr<sim::Simulator> console;
  QTemporaryDir dir;
};

TEST_F(WindowOnConsoleTest, FirstPollRefreshesTableAndConstants) {
  CreateAndShow();
  ASSERT_TRUE(Finished(0)) << Log().join(u'\n').toStdString();
  EXPECT_TRUE(Log().contains("Установлена связь с модемом."));
  QTableWidget* grid = form->StringGrid1;
  ASSERT_EQ(grid->rowCount(), 3);
  EXPECT_EQ(grid->verticalHeaderItem(0)->text(), "1");
  EXPECT_EQ(grid->verticalHeaderItem(1)->text(), "2");
  EXPECT_EQ(Cell(0, 0), "C:\\Планы\\Город.yp1");
  EXPECT_EQ(Cell(0, 1), "Годовой план АСУДД");
  EXPECT_EQ(Cell(0, 2), "40 б.");
  EXPECT_EQ(Cell(1, 1), "Организация перекрестка РВМ-8");
  EXPECT_EQ(Cell(1, 2), "20 б.");
  const auto state = console->State();
  const std::size_t free = kCapacity - StoredSize(state.files[0]) - StoredSize(state.files[1]);
  EXPECT_EQ(Cell(2, 0), QStringLiteral("Свободно - %1 байт").arg(free));

  EXPECT_EQ(form->Edit1->text(), "Пульт 7");
  EXPECT_EQ(form->zqIntEdit1->Value(), -120);
  EXPECT_EQ(form->ComboBox1->currentIndex(), 1);
  EXPECT_EQ(form->zqIntEdit3->Value(), 17);
  EXPECT_EQ(form->zqIntEdit4->Value(), 12345);
  EXPECT_EQ(form->zqIntEdit2->Value(), 123456);
  EXPECT_FALSE(form->SerialComm1().PortOpen());  // closed once the queue ran empty
}

TEST_F(WindowOnConsoleTest, UploadDeleteAndReflashChangeTheDevice) {
  CreateAndShow();
  ASSERT_TRUE(Finished(0));

  const Bytes plan{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130, 140, 150, 160,
                   170, 180, 190, 200, 210, 220, 230, 240, 250, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11};
  const QString plan_path = Write(QStringLiteral("новый.yp1"), plan);
  dialogs.files = {plan_path};
  QTest::mouseClick(form->ToolButton6, Qt::LeftButton);
  ASSERT_TRUE(Finished(1)) << Log().join(u'\n').toStdString();
  auto state = console->State();
  ASSERT_EQ(state.files.size(), 3u);
  EXPECT_EQ(state.files[2].type, 2);
  EXPECT_EQ(state.files[2].data, plan);
  Bytes name = link::Utf8ToCp1251(plan_path.toStdString());
  if (name.size() % 2 == 0) name.push_back(' ');
  EXPECT_EQ(state.files[2].name, name);
  EXPECT_EQ(form->StringGrid1->rowCount(), 4);
  EXPECT_EQ(Cell(2, 2), QStringLiteral("%1 б.").arg(plan.size()));

  // The header and the free-space row are no files.
  QHeaderView* header = form->StringGrid1->horizontalHeader();
  DoubleClick(header->viewport(), QPoint(40, 8));
  DoubleClick(form->StringGrid1->verticalHeader()->viewport(), QPoint(10, 8));
  DoubleClickCell(3);
  EXPECT_TRUE(form->Session().link().queue().empty());

  const auto kept = state.files;
  DoubleClickCell(0);
  ASSERT_FALSE(form->Session().link().queue().empty());
  EXPECT_EQ(form->Session().link().queue().head().command, 20);
  ASSERT_TRUE(Finished(2));
  state = console->State();
  ASSERT_EQ(state.files.size(), 2u);
  EXPECT_EQ(state.files[0].name, kept[1].name);
  EXPECT_EQ(state.files[1].name, kept[2].name);
  EXPECT_EQ(Cell(0, 0), QString::fromStdString(link::Cp1251ToUtf8(kept[1].name)));

  Bytes image(100);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 37 + 5);
  dialogs.warning_answers = {true};
  dialogs.files = {Write(QStringLiteral("main.mts"), image)};
  form->Timer1().setInterval(300);  // the watchdog, shortened for the test
  QTest::mouseClick(form->ToolButton4, Qt::LeftButton);
  ASSERT_TRUE(Finished(3)) << Log().join(u'\n').toStdString();
  state = console->State();
  ASSERT_GE(state.firmware.size(), image.size());
  EXPECT_EQ(Bytes(state.firmware.begin(), state.firmware.begin() + image.size()), image);
  EXPECT_FALSE(Log().contains("Ошибка верификации записанных данных!"));

  // The program closed the port itself: no poll can come, and the watchdog
  // does not count it as a modem that fell silent.
  EXPECT_FALSE(form->Timer1().isActive());
  QTest::qWait(3 * form->Timer1().interval());
  EXPECT_FALSE(Log().contains("Модем не подключен!"));
  EXPECT_EQ(Log().constLast(), "Порт связи закрыт");
}

// A console that polls again at once after each answer: the poll that came
// with the last answer finds the port closed, and the watchdog stays quiet.
TEST_F(WindowOnConsoleTest, AConsolePollingWithItsAnswerIsNotReportedSilentAfterTheClose) {
  sim::SimOptions options;
  options.poll_with_answer = true;
  console = std::make_unique<sim::Simulator>(options, console->State());
  serial::SaveComPort(console->Start());
  CreateAndShow();
  ASSERT_TRUE(Finished(0)) << Log().join(u'\n').toStdString();
  form->Timer1().setInterval(300);  // the watchdog, shortened for the test
  QTest::mouseClick(form->ToolButton1, Qt::LeftButton);
  ASSERT_TRUE(Finished(1)) << Log().join(u'\n').toStdString();

  ASSERT_TRUE(WaitUntil([&] { return !form->SerialComm1().PortOpen(); }));
  EXPECT_FALSE(form->Timer1().isActive());
  QTest::qWait(3 * form->Timer1().interval());
  EXPECT_FALSE(Log().contains(link::kLogNotConnected)) << Log().join(u'\n').toStdString();
  EXPECT_EQ(Log().constLast(), "Порт связи закрыт");
}

// A cable pulled in the middle of a reflash ends it at once, and the log
// says that the main program is now incomplete.
TEST_F(WindowOnConsoleTest, APulledCableEndsTheReflashAtOnceSayingWhatItLeaves) {
  sim::SimOptions options;
  options.hangup_after = 300;
  console = std::make_unique<sim::Simulator>(options, sim::DeviceState{});
  serial::SaveComPort(console->Start());
  CreateAndShow();
  ASSERT_TRUE(Finished(0));
  dialogs.warning_answers = {true};
  dialogs.files = {Write(QStringLiteral("main.mts"), Bytes(20000, 0x5A))};
  QTest::mouseClick(form->ToolButton4, Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([&] { return Log().contains("Порт связи потерян!"); }, 5000)) << Log().join(u'\n').toStdString();
  const QStringList after = LogFrom(Log().indexOf("Порт связи потерян!"));
  EXPECT_EQ(after, Lines({"Порт связи потерян!", "Закрытие порта связи", "Порт связи закрыт", "Очередь команд очищена!",
                          "Основная программа пульта записана не полностью. Повторите прошивку!"}));
  EXPECT_FALSE(form->SerialComm1().PortOpen());
  EXPECT_FALSE(form->Timer1().isActive());
}

}  // namespace
}  // namespace orvane::ui::testing
