#include "ui/form1.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>

#include "tests/ui/window_fixture.h"
#include "ui/icons.h"
#include "ui/look.h"
#include "ui/zqedit.h"

namespace orvane::ui::testing {
namespace {

const char* const kStart = "Запуск программы";
const char* const kLoading = "Загрузка конфигурации...";
const char* const kPortSettings = "  настройки порта;";
const char* const kLoaded = "Загрузка конфигурации завершена.";
const char* const kOpening = "Открытие портa связи:";
const char* const kCannotOpen = "Порт связи не может быть открыт.";
const char* const kNotConnected = "Модем не подключен!";

QString Write(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
  const QString path = dir.filePath(name);
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
  return path;
}

using WindowLayoutTest = WindowTest;

TEST_F(WindowLayoutTest, WindowIsFixedWithTheClientAreaOfTheLayout) {
  Create();
  EXPECT_EQ(form->windowTitle(), "Конфигуратор KV80-модемов");
  EXPECT_EQ(form->centralWidget()->size(), QSize(754, 549));
  form->show();
  EXPECT_EQ(form->minimumSize(), form->maximumSize());
  EXPECT_EQ(form->size().width(), 754);
  EXPECT_FALSE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form->windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(form->windowIcon().isNull());
  EXPECT_EQ(form->centralWidget()->palette().color(QPalette::Window), kWindowColour);
  EXPECT_EQ(form->ToolBar1->palette().color(QPalette::Window), kToolBarColour);
}

TEST_F(WindowLayoutTest, EveryTextFitsItsControl) {
  Create();
  const struct {
    QLabel* label;
    int right_limit;
  } labels[] = {{form->Label7, 176}, {form->Label1, 176}, {form->Label2, 176},
                {form->Label14, 120}, {form->Label15, 288}, {form->Label5, 120},
                {form->Label3, 377}};
  for (const auto& [label, limit] : labels)
    EXPECT_LE(label->x() + label->sizeHint().width(), limit) << label->text().toStdString();
  form->Label4->setText(QStringLiteral("Очередь команд: 4097."));
  EXPECT_LE(form->Label4->sizeHint().width(), form->Label4->width());
  const QFontMetrics bold(WindowFont(true));
  EXPECT_LE(bold.horizontalAdvance(QStringLiteral("Есть (стандартный)")) + 20, form->ComboBox1->width());
  EXPECT_LE(bold.horizontalAdvance(QStringLiteral("-2147483648")) + 4, form->zqIntEdit2->width());
  EXPECT_LE(bold.horizontalAdvance(QStringLiteral("65535")) + 4, form->zqIntEdit4->width());
  EXPECT_LE(bold.horizontalAdvance(QStringLiteral("254")) + 4, form->zqIntEdit3->width());
  EXPECT_LE(bold.height(), 19 - 4);
  EXPECT_LE(bold.horizontalAdvance(QStringLiteral("Организация перекрестка РВМ-8")) + 4, 190);
  EXPECT_LE(bold.horizontalAdvance(QStringLiteral("Исходное местоположение файла")) + 4, 450);
}

TEST_F(WindowLayoutTest, BoldWhereTheLayoutSaysAndTheLogRegular) {
  Create();
  for (QWidget* widget : std::initializer_list<QWidget*>{
           form->GroupBox1, form->Edit1, form->zqIntEdit1, form->zqIntEdit2, form->zqIntEdit3,
           form->zqIntEdit4, form->ComboBox1, form->StringGrid1, form->Label4})
    EXPECT_TRUE(widget->font().bold()) << widget->objectName().toStdString();
  EXPECT_FALSE(form->Memo1->font().bold());
  EXPECT_EQ(form->Memo1->font().pixelSize(), 11);
  form->show();
  EXPECT_TRUE(form->ComboBox1->lineEdit()->font().bold());  // the text the combo box shows
  EXPECT_EQ(form->ComboBox1->lineEdit()->font().pixelSize(), 11);
  EXPECT_TRUE(form->StringGrid1->horizontalHeader()->font().bold());
}

TEST_F(WindowLayoutTest, ToolBarButtonsShowTheirIconsAndHints) {
  Create();
  const struct {
    QToolButton* button;
    const char* hint;
    int image;
  } buttons[] = {{form->ToolButton1, "Обновить", kImageRefresh},
                 {form->ToolButton4, "Перепрошить", kImageDevice},
                 {form->ToolButton6, "Добавить файл", kImageAddFile},
                 {form->ToolButton8, "Стереть все", kImageErase},
                 {form->ToolButton13, "Сохранить константы", kImageSheet},
                 {form->ToolButton10, "Настройка", kImageSettings}};
  for (const auto& [button, hint, image] : buttons) {
    EXPECT_EQ(button->toolTip(), QString::fromUtf8(hint));
    EXPECT_TRUE(button->text().isEmpty() || button->toolButtonStyle() == Qt::ToolButtonIconOnly);
    EXPECT_TRUE(button->isEnabled());
    const QImage shown = button->icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(shown, ImageList1(image).convertToFormat(QImage::Format_ARGB32)) << hint;
  }
  EXPECT_EQ(form->Label4->text(), "Очередь команд:");
  EXPECT_EQ(form->ProgressBar1->minimum(), 0);
  EXPECT_EQ(form->ProgressBar1->maximum(), 100);
}

TEST_F(WindowLayoutTest, FileTableColumnsAndHeader) {
  CreateAndShow();
  QTableWidget* grid = form->StringGrid1;
  EXPECT_EQ(grid->verticalHeader()->width(), 30);
  EXPECT_EQ(grid->columnWidth(0), 450);
  EXPECT_EQ(grid->columnWidth(1), 190);
  EXPECT_EQ(grid->columnWidth(2), 70);
  EXPECT_EQ(grid->horizontalHeader()->height(), 19);
  EXPECT_EQ(grid->rowHeight(0), 19);
  EXPECT_EQ(form->StringGrid1Corner->text(), "№№");
  EXPECT_EQ(grid->horizontalHeaderItem(0)->text(), "Исходное местоположение файла");
  EXPECT_EQ(grid->horizontalHeaderItem(1)->text(), "Тип файла");
  EXPECT_EQ(grid->horizontalHeaderItem(2)->text(), "Размер");
  EXPECT_EQ(grid->rowCount(), 1);  // the one empty row below the header
  EXPECT_TRUE(grid->item(0, 0)->text().isEmpty());
  EXPECT_EQ(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(WindowTest, WatchdogIsATenSecondTimerRunningFromCreation) {
  Create();
  EXPECT_EQ(form->Timer1().interval(), 10000);
  EXPECT_TRUE(form->Timer1().isActive());
  EXPECT_EQ(Log(), Lines({kStart}));
}

TEST_F(WindowTest, StartWithNothingStored) {
  std::filesystem::remove(Store().fileName().toStdString());
  CreateAndShow();
  EXPECT_EQ(Log(), Lines({kStart, kLoading, kLoaded, kOpening, kCannotOpen}));
  EXPECT_EQ(form->StatusPanel0->text(), "Порт связи не выбран: выберите его в настройках порта");
  EXPECT_TRUE(QFile::exists(Store().fileName()));  // the store now exists, empty
  EXPECT_FALSE(Store().contains("ComPort"));
  EXPECT_EQ(form->zqIntEdit1->Value(), device::SystemTimeZoneMinutes());
  EXPECT_EQ(form->Label4->text(), "Очередь команд:");
}

TEST_F(WindowTest, StartWithTheStoredPortFree) {
  Pty pty;
  LinkComPort(3, pty.port());
  serial::SaveComPort("COM3");
  CreateAndShow();
  EXPECT_EQ(Log(), Lines({kStart, kLoading, kPortSettings, kLoaded, kOpening,
                          "Порт связи открыт. (COM3)"}));
  EXPECT_TRUE(form->SerialComm1().PortOpen());
  EXPECT_TRUE(form->Timer1().isActive());
  EXPECT_EQ(cfg->ComboBox1->currentText(), "COM3");
  EXPECT_EQ(form->StringGrid1->rowCount(), 1);
}

TEST_F(WindowTest, ExitAsksAndOnlyYesCloses) {
  CreateAndShow();
  const QStringList before = Log();
  form->N6->trigger();
  ASSERT_EQ(dialogs.confirmations.size(), 1u);
  EXPECT_EQ(dialogs.confirmations[0].caption, "Подтверждение");
  EXPECT_EQ(dialogs.confirmations[0].text, "Вы правда хотите выйти?");
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(Log(), before);

  dialogs.confirm_answers = {true};
  form->close();  // the close box asks the same question
  EXPECT_EQ(dialogs.confirmations.size(), 2u);
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(Log(), before);
}

TEST_F(WindowTest, WatchdogLogsOnceAndStops) {
  CreateAndShow();
  form->Timer1().setInterval(40);
  form->Timer1().start();
  ASSERT_TRUE(WaitUntil([&] { return Log().contains(kNotConnected); }));
  EXPECT_FALSE(form->Timer1().isActive());
  QTest::qWait(150);
  EXPECT_EQ(Log().count(kNotConnected), 1);
  EXPECT_EQ(form->Label4->text(), "Очередь команд: 0.");
}

// While the port dialog has closed the port, the watchdog waits: no poll can
// come, and none is missing.
TEST_F(WindowTest, ThePortDialogsScanStopsTheWatchdogUntilThePortOpensAgain) {
  Pty pty;
  serial::SaveComPort(pty.port());
  CreateAndShow();
  ASSERT_TRUE(form->SerialComm1().PortOpen());
  bool counting_during_dialog = true;
  dialogs.port_dialog = [&](TComCFGForm&) {
    counting_during_dialog = form->Timer1().isActive();
    return false;
  };
  form->N5->trigger();
  EXPECT_FALSE(counting_during_dialog);
  EXPECT_TRUE(form->SerialComm1().PortOpen()) << "opened again after the dialog";
  EXPECT_TRUE(form->Timer1().isActive());
}

// What the fields show is what the console will store: the time zone keeps
// to its 16 bits, and the identifier takes only characters of code page 1251.
TEST_F(WindowTest, FieldsHoldOnlyWhatTheConsoleStoresAsShown) {
  CreateAndShow();
  const std::pair<const char*, int> zones[] = {{"99999", 32767}, {"-99999", -32768}, {"-600", -600}};
  for (const auto& [pasted, value] : zones) {
    form->zqIntEdit1->setFocus();
    QGuiApplication::clipboard()->setText(QString::fromUtf8(pasted));
    QTest::keyClick(form->zqIntEdit1, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(form->zqIntEdit1->Value(), value) << pasted;
    EXPECT_EQ(form->Session().model().fields.time_zone, value) << pasted;
  }
  form->zqIntEdit1->selectAll();
  QTest::keyClicks(form->zqIntEdit1, QStringLiteral("123456"));
  EXPECT_EQ(form->zqIntEdit1->Value(), 32767) << "typed";
  form->Edit1->setFocus();
  for (const QChar c : QStringLiteral("Пульт 日本-7")) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(form->Edit1, &press);
  }
  EXPECT_EQ(form->Edit1->text(), "Пульт -7");
  EXPECT_EQ(form->Session().model().fields.identifier, "Пульт -7");
}

TEST_F(WindowTest, AddressFieldsKeepTheirLimits) {
  CreateAndShow();
  form->zqIntEdit3->setFocus();
  form->zqIntEdit3->selectAll();
  QTest::keyClicks(form->zqIntEdit3, QStringLiteral("300"));
  EXPECT_EQ(form->zqIntEdit3->Value(), 254);
  EXPECT_EQ(form->zqIntEdit3->text(), "254");
  EXPECT_EQ(form->Session().model().fields.local_address, 254);

  QGuiApplication::clipboard()->setText(QStringLiteral("-5"));
  QTest::keyClick(form->zqIntEdit3, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(form->zqIntEdit3->Value(), 0);
  EXPECT_EQ(form->Session().model().fields.local_address, 0);

  form->zqIntEdit4->selectAll();
  QTest::keyClicks(form->zqIntEdit4, QStringLiteral("70000"));
  EXPECT_EQ(form->zqIntEdit4->Value(), 65535);
  EXPECT_EQ(form->Session().model().fields.global_address, 65535);
  QTest::keyClick(form->zqIntEdit4, Qt::Key_Backspace);
  EXPECT_EQ(form->zqIntEdit4->Value(), 6553);
}

TEST_F(WindowTest, EditedFieldsAreWhatSavingSends) {
  Pty pty;
  serial::SaveComPort(pty.port());
  CreateAndShow();
  form->Edit1->setText(QStringLiteral("АБВ"));
  form->zqIntEdit1->selectAll();
  QTest::keyClicks(form->zqIntEdit1, QStringLiteral("-60"));
  form->zqIntEdit2->selectAll();
  QTest::keyClicks(form->zqIntEdit2, QStringLiteral("-2"));
  form->ComboBox1->setFocus();
  form->ComboBox1->lineEdit()->selectAll();
  QTest::keyClicks(form->ComboBox1->lineEdit(), QStringLiteral("maybe"));
  EXPECT_EQ(form->Session().model().fields.summer_index, -1);

  QTest::mouseClick(form->ToolButton13, Qt::LeftButton);
  const auto queue = QueueOf(form->Session());
  ASSERT_EQ(queue.size(), 3u);
  EXPECT_EQ(queue[0].command, 3);
  EXPECT_EQ(queue[1].command, 4);
  EXPECT_EQ(queue[2].command, 16);
  const auto& block = queue[0].data;
  ASSERT_EQ(block.size(), 34u);
  EXPECT_EQ(block[10], 0xC4);  // -60
  EXPECT_EQ(block[11], 0xFF);
  EXPECT_EQ(block[12], 0xFF);  // no entry selected
  EXPECT_EQ(block[6], 0xFE);   // -2
  EXPECT_EQ(block[9], 0xFF);
  EXPECT_EQ(block[13], 3);
  EXPECT_EQ((std::vector<std::uint8_t>{block[14], block[15], block[16]}),
            (std::vector<std::uint8_t>{0xC0, 0xC1, 0xC2}));

  form->ComboBox1->setCurrentIndex(1);
  EXPECT_EQ(form->Session().model().fields.summer_index, 1);
}

TEST_F(WindowTest, ModelChangesShowInTheFields) {
  Create();
  device::ConstantsFields& fields = form->Session().model().fields;
  fields = {"пульт", -120, 5, 255, 70000, 123456};
  form->ModelChanged(device::ModelPart::kFields);
  EXPECT_EQ(form->Edit1->text(), "пульт");
  EXPECT_EQ(form->zqIntEdit1->text(), "-120");
  EXPECT_EQ(form->ComboBox1->currentIndex(), -1);  // no sixth entry
  EXPECT_EQ(fields.summer_index, -1);
  EXPECT_EQ(form->zqIntEdit3->Value(), 254);  // the limits hold for shown values too
  EXPECT_EQ(form->zqIntEdit4->Value(), 65535);
  EXPECT_EQ(form->zqIntEdit2->text(), "123456");

  form->Session().model().status_panel = "Файл слишком большой";
  form->ModelChanged(device::ModelPart::kStatus);
  EXPECT_EQ(form->StatusPanel0->text(), "Файл слишком большой");
}

TEST_F(WindowTest, LogDropsItsOldestLinesBeyondItsCapacity) {
  Create();
  const QString filler(49, u'x');
  for (int i = 0; i < 2500; ++i) form->AppendLog(QStringLiteral("%1 %2").arg(i, 4, 10, QChar(u'0')).arg(filler).toStdString());
  EXPECT_LE(form->Memo1->document()->characterCount() - 1, TForm1::kLogCapacity);
  EXPECT_GT(form->Memo1->document()->characterCount() - 1, TForm1::kLogCapacity - 60);
  const QStringList log = Log();
  EXPECT_TRUE(log.constLast().startsWith("2499 "));
  EXPECT_NE(log.constFirst(), kStart);
  EXPECT_TRUE(log.constFirst().endsWith(filler));  // whole lines dropped, none cut

  form->AppendLog(std::string(TForm1::kLogCapacity + 10, 'y'));
  EXPECT_EQ(form->Memo1->document()->characterCount() - 1, TForm1::kLogCapacity);
}

// A pulled cable writes a reason longer than the pane; the lines after it
// (and the long one itself) must still be read from their start.
TEST_F(WindowTest, LogShowsTheStartOfItsLinesAfterALongLine) {
  CreateAndShow();
  const std::string long_line = "Порт связи потерян! " + std::string(400, 'x');
  QScrollBar* sideways = form->Memo1->horizontalScrollBar();
  for (const bool scrolled_by_hand : {false, true}) {
    form->AppendLog(long_line);
    NextTurn();
    ASSERT_GT(sideways->maximum(), 0);
    EXPECT_EQ(sideways->value(), 0) << "after the long line, scrolled by hand: " << scrolled_by_hand;
    if (scrolled_by_hand) sideways->setValue(sideways->maximum());
    form->AppendLog("Модем не подключен!");
    NextTurn();
    EXPECT_EQ(sideways->value(), 0) << "after a short line, scrolled by hand: " << scrolled_by_hand;
  }
}

TEST_F(WindowTest, LinesAreAppendedAfterTextTheUserTyped) {
  CreateAndShow();
  form->Memo1->setFocus();
  form->Memo1->moveCursor(QTextCursor::End);
  QTest::keyClicks(form->Memo1, QStringLiteral(" note"));
  form->AppendLog("next");
  const QStringList log = Log();
  EXPECT_EQ(log.at(log.size() - 2), QString::fromUtf8(kCannotOpen) + " note");
  EXPECT_EQ(log.constLast(), "next");
}

TEST_F(WindowTest, AnEscapedErrorIsShownAndTheProgramGoesOn) {
  QTemporaryDir dir;
  Pty pty;
  serial::SaveComPort(pty.port());
  CreateAndShow();
  const qsizetype start = Log().size();
  dialogs.files = {dir.path()};  // a folder: it exists but cannot be read as a file
  QTest::mouseClick(form->ToolButton6, Qt::LeftButton);
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_TRUE(dialogs.errors[0].contains(dir.path())) << dialogs.errors[0].toStdString();
  EXPECT_FALSE(Log().contains("Добавление файла..."));
  EXPECT_TRUE(QueueOf(form->Session()).empty());

  dialogs.warning_answers = {true};
  dialogs.files = {dir.filePath("missing.mts")};
  form->N2->trigger();
  EXPECT_EQ(dialogs.errors.size(), 2u);
  EXPECT_FALSE(Log().contains("Идет прошивка основной программы..."));

  form->N7->trigger();
  EXPECT_EQ(LogFrom(start), Lines({"Запрос текущего состояния..."}));
}

TEST_F(WindowTest, SettingsErrorEndsTheStartSequence) {
  {
    QSettings store = Store();
    store.setValue("ComPort", QStringList{"COM1", "COM2"});
  }
  CreateAndShow();
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(dialogs.errors[0], "Invalid data type for 'ComPort'");
  EXPECT_EQ(Log(), Lines({kStart, kLoading}));
  EXPECT_FALSE(form->SerialComm1().PortOpen());
}

// A refused file says so in the status bar and in the log, and no line of
// adding or flashing follows; the next action clears the status bar.
TEST_F(WindowTest, RefusedFilesSayWhyInTheStatusBarAndTheLog) {
  QTemporaryDir dir;
  Pty pty;
  serial::SaveComPort(pty.port());
  CreateAndShow();
  dialogs.files = {Write(dir, "big.yp1", QByteArray(10000, 'p'))};
  form->N3->trigger();
  EXPECT_EQ(form->StatusPanel0->text(), "Файл слишком большой");
  EXPECT_EQ(Log().constLast(), "Файл слишком большой");
  EXPECT_FALSE(Log().contains("Добавление файла..."));
  EXPECT_TRUE(QueueOf(form->Session()).empty());

  dialogs.warning_answers = {true};
  dialogs.files = {Write(dir, "big.mts", QByteArray(65536, 'f'))};
  form->N2->trigger();
  EXPECT_EQ(form->StatusPanel0->text(), "Файл слишком большой!");
  EXPECT_EQ(Log().constLast(), "Файл слишком большой!");
  EXPECT_FALSE(Log().contains("Идет прошивка основной программы..."));
  EXPECT_TRUE(QueueOf(form->Session()).empty()) << "nothing that would end in a success line";

  form->N7->trigger();
  EXPECT_EQ(form->StatusPanel0->text(), "");
}

TEST_F(WindowTest, ProgressFollowsTheQueue) {
  QTemporaryDir dir;
  Pty pty;
  serial::SaveComPort(pty.port());
  CreateAndShow();
  form->N7->trigger();
  NextTurn();
  EXPECT_EQ(form->Label4->text(), "Очередь команд: 1.");
  EXPECT_EQ(form->ProgressBar1->maximum(), 1);
  EXPECT_EQ(form->ProgressBar1->value(), 1);
  dialogs.warning_answers = {true};
  dialogs.files = {Write(dir, "image.mts", QByteArray(64, 'i'))};
  QTest::mouseClick(form->ToolButton4, Qt::LeftButton);
  NextTurn();
  EXPECT_EQ(form->Label4->text(), "Очередь команд: 6.");
  EXPECT_EQ(form->ProgressBar1->maximum(), 6);
  EXPECT_EQ(form->ProgressBar1->value(), 6);
  form->CloseLinkPort();
  NextTurn();
  EXPECT_EQ(form->Label4->text(), "Очередь команд: 0.");
  EXPECT_EQ(form->ProgressBar1->value(), 0);
}

// A 64 KiB image queues 4 097 commands in one click; the bar and the counter
// are drawn once for all of them, after the click, with the final values.
TEST_F(WindowTest, AFullReflashDrawsTheProgressOnceAfterTheClick) {
  QTemporaryDir dir;
  Pty pty;
  serial::SaveComPort(pty.port());
  CreateAndShow();
  NextTurn();
  PaintCounter bar(form->ProgressBar1);
  PaintCounter counter(form->Label4);
  dialogs.warning_answers = {true};
  dialogs.files = {Write(dir, "full.mts", QByteArray(65535, '\x5A'))};
  QTest::mouseClick(form->ToolButton4, Qt::LeftButton);
  EXPECT_EQ(form->Session().link().queue().size(), 4097u);
  EXPECT_EQ(bar.paints, 0);
  EXPECT_EQ(counter.paints, 0);
  NextTurn();
  EXPECT_EQ(form->Label4->text(), "Очередь команд: 4097.");
  EXPECT_EQ(form->ProgressBar1->maximum(), 4097);
  EXPECT_EQ(form->ProgressBar1->value(), 4097);
  EXPECT_LE(bar.paints, 1);
  EXPECT_LE(counter.paints, 1);
}

// One action done once through its menu item and once through its tool
// button, each in a fresh window on the same port, with the same answers.
struct ActionPair {
  const char* name;
  QAction* TForm1::*menu_item;
  QToolButton* TForm1::*button;
  std::function<void(ScriptedDialogs&, const QTemporaryDir&)> script;
};

class MenuAndToolBarTest : public WindowTest, public ::testing::WithParamInterface<ActionPair> {
 protected:
  struct WhatTheWindowDid {
    QStringList log;
    std::vector<QueuedCommand> queue;
    std::vector<QString> warnings;
    std::vector<QStringList> filters;
    std::vector<QString> suffixes;
    int port_dialogs;
  };

  WhatTheWindowDid Run(bool from_menu) {
    ClearStore();
    serial::SaveComPort(pty.port());
    dialogs = ScriptedDialogs{};
    GetParam().script(dialogs, dir);
    CreateAndShow();
    const qsizetype start = Log().size();
    if (from_menu) {
      ((*form).*GetParam().menu_item)->trigger();
    } else {
      QTest::mouseClick((*form).*GetParam().button, Qt::LeftButton);
    }
    WhatTheWindowDid outcome{LogFrom(start), QueueOf(form->Session()), dialogs.warnings, {}, {}, dialogs.port_dialogs};
    for (const auto& request : dialogs.file_requests) {
      outcome.filters.push_back(request.filters);
      outcome.suffixes.push_back(request.suffix);
    }
    Destroy();
    return outcome;
  }

  QTemporaryDir dir;
  Pty pty;
};

TEST_P(MenuAndToolBarTest, GiveTheSameLogAndQueue) {
  const WhatTheWindowDid menu = Run(true);
  const WhatTheWindowDid button = Run(false);
  EXPECT_TRUE(!menu.log.isEmpty() || !menu.queue.empty() || !menu.warnings.empty() ||
              menu.port_dialogs > 0);
  EXPECT_EQ(menu.log, button.log);
  EXPECT_EQ(menu.queue, button.queue);
  EXPECT_EQ(menu.warnings, button.warnings);
  EXPECT_EQ(menu.filters, button.filters);
  EXPECT_EQ(menu.suffixes, button.suffixes);
  EXPECT_EQ(menu.port_dialogs, button.port_dialogs);
}

INSTANTIATE_TEST_SUITE_P(
    Actions, MenuAndToolBarTest,
    ::testing::Values(
        ActionPair{"Refresh", &TForm1::N7, &TForm1::ToolButton1, [](ScriptedDialogs&, const QTemporaryDir&) {}},
        ActionPair{"Reflash", &TForm1::N2, &TForm1::ToolButton4,
                   [](ScriptedDialogs& d, const QTemporaryDir& dir) {
                     d.warning_answers = {true};
                     d.files = {Write(dir, "fw.mts", QByteArray(70, '\x5A'))};
                   }},
        ActionPair{"AddFile", &TForm1::N3, &TForm1::ToolButton6,
                   [](ScriptedDialogs& d, const QTemporaryDir& dir) {
                     d.files = {Write(dir, "plan.yp1", QByteArray("\x01\x02\x03", 3))};
                   }},
        ActionPair{"EraseAll", &TForm1::N8, &TForm1::ToolButton8,
                   [](ScriptedDialogs& d, const QTemporaryDir&) { d.warning_answers = {true}; }},
        ActionPair{"EraseAllRefused", &TForm1::N8, &TForm1::ToolButton8,
                   [](ScriptedDialogs&, const QTemporaryDir&) {}},
        ActionPair{"SaveConstants", &TForm1::N9, &TForm1::ToolButton13,
                   [](ScriptedDialogs&, const QTemporaryDir&) {}},
        ActionPair{"PortSettings", &TForm1::N5, &TForm1::ToolButton10,
                   [](ScriptedDialogs&, const QTemporaryDir&) {}}),
    [](const ::testing::TestParamInfo<ActionPair>& info) { return info.param.name; });

TEST_F(WindowTest, ActionsAskWithTheirTextsAndFilters) {
  QTemporaryDir dir;
  Pty pty;
  serial::SaveComPort(pty.port());
  CreateAndShow();
  dialogs.warning_answers = {true, false};
  dialogs.files = {Write(dir, "fw.mts", QByteArray(3, 'f'))};
  form->N2->trigger();
  form->N8->trigger();
  ASSERT_EQ(dialogs.warnings.size(), 2u);
  EXPECT_EQ(dialogs.warnings[0], "Все данные в пульте будут утеряны!\n\rПодтвердите операцию");
  EXPECT_EQ(dialogs.warnings[1],
            "Вы собираетесь удалить все файлы из памяти пульта!\n\rПодтвердите Ваше желание:");
  form->N3->trigger();
  ASSERT_EQ(dialogs.file_requests.size(), 2u);
  EXPECT_EQ(dialogs.file_requests[0].filters, Lines({"Зашифрованные прошивки (*.mts)"}));
  EXPECT_EQ(dialogs.file_requests[0].suffix, "mts");
  EXPECT_EQ(dialogs.file_requests[1].filters, Lines({"Годовой план АСУДД (версия 1) (*.yp1)"}));
  EXPECT_EQ(dialogs.file_requests[1].suffix, "");
}

TEST_F(WindowTest, PortDialogStoresTheChoiceAndReopens) {
  Pty first, fourth;
  LinkComPort(1, first.port());
  LinkComPort(4, fourth.port());
  CreateAndShow();
  const qsizetype start = Log().size();
  QStringList listed;
  dialogs.port_dialog = [&](TComCFGForm& dialog) {
    for (int i = 0; i < dialog.ComboBox1->count(); ++i) listed.append(dialog.ComboBox1->itemText(i));
    dialog.ComboBox1->setEditText(QStringLiteral("COM4"));
    return true;
  };
  QTest::mouseClick(form->ToolButton10, Qt::LeftButton);
  EXPECT_EQ(listed, Lines({"COM1", "COM4"}));
  EXPECT_EQ(LogFrom(start),
            Lines({"Поиск доступных портов:", "  найден порт: COM1;", "  найден порт: COM4;",
                   "Поиск портов завершен.", "Сохранение конфигурации...", kPortSettings,
                   "Сохранение конфигурации завершено.", kLoading, kPortSettings, kLoaded, kOpening,
                   "Порт связи открыт. (COM4)"}));
  EXPECT_EQ(Store().value("ComPort").toString(), "COM4");
  EXPECT_EQ(form->StringGrid1->rowCount(), 1);
}

TEST_F(WindowTest, CancelledPortDialogPutsTheStoredNameBack) {
  Pty first, fourth;
  LinkComPort(1, first.port());
  LinkComPort(4, fourth.port());
  serial::SaveComPort("COM1");
  CreateAndShow();
  dialogs.port_dialog = [](TComCFGForm& dialog) {
    dialog.ComboBox1->setEditText(QStringLiteral("COM4"));
    return false;
  };
  const qsizetype start = Log().size();
  form->N5->trigger();
  EXPECT_EQ(cfg->ComboBox1->currentText(), "COM1");
  EXPECT_FALSE(LogFrom(start).contains("Сохранение конфигурации..."));
  EXPECT_EQ(LogFrom(start).constLast(), "Порт связи открыт. (COM1)");
  EXPECT_EQ(Store().value("ComPort").toString(), "COM1");
}

}  // namespace
}  // namespace orvane::ui::testing
