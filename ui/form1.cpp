#include "ui/form1.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QShowEvent>
#include <QStatusBar>
#include <QTableWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolButton>
#include <QValidator>

#include <algorithm>
#include <stdexcept>

#include "link/cp1251.h"
#include "serial/port_diagnosis.h"
#include "ui/comcfgform.h"
#include "ui/deferred_progress.h"
#include "ui/dialogs.h"
#include "ui/icons.h"
#include "ui/look.h"
#include "ui/zqedit.h"

namespace orvane::ui {
namespace {

constexpr int kClientWidth = 754;
constexpr int kClientHeight = 549;
constexpr int kRowHeight = 19;
constexpr int kColumnWidths[device::FileTable::kColumns] = {30, 450, 190, 70};

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

QLabel* BoldLabel(QWidget* parent, const char* name, const char* text, int left, int top) {
  auto* label = new QLabel(Q(text), parent);
  label->setObjectName(Q(name));
  label->setFont(WindowFont(true));
  label->move(left, top);
  label->adjustSize();
  return label;
}

// The identifier goes to the console in code page 1251: a character the code
// page lacks is not taken, so what is saved is what the field shows.
class Cp1251Validator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    return link::FirstCharacterWithoutCp1251(input.toStdString()) ? Invalid : Acceptable;
  }
};

template <class Control>
Control* Place(Control* control, const char* name, int left, int top, int width, int height) {
  control->setObjectName(Q(name));
  control->setGeometry(left, top, width, height);
  return control;
}

}  // namespace

TForm1::TForm1(Dialogs& dialogs, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                              Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowCloseButtonHint),
      dialogs_(dialogs),
      connection_({.append_log = [this](const std::string& line) { AppendLog(line); },
                   .open_failed = [this](const std::string& port) { ShowPortFailure(port); },
                   .bytes_moved = nullptr,
                   .guard = [this](const std::function<void()>& work) { Guarded(work); }}),
      session_(*this) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Конфигуратор KV80-модемов"));
  setWindowIcon(QIcon(QPixmap::fromImage(ProgramIcon())));
  setFont(WindowFont());
  setStyleSheet(FlatStyleSheet());

  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("ClientArea"));
  client->setFixedSize(kClientWidth, kClientHeight);
  FillBackground(client, kWindowColour);
  setCentralWidget(client);
  CreateMenu();
  CreateToolBar(client);
  CreateConstantsGroup(client);
  CreateLog(client);
  CreateFileTable(client);
  CreateStatusBar(client);
  BindFields();
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  move(223, 253);

  connection_.Attach(session_.link());
  AppendLog(device::kLogStart);
}

// The controls outlive the session and the port while the base classes tear
// them down, so nothing they signal may reach this window any more.
TForm1::~TForm1() {
  connection_.StopWatchdog();
  connection_.comm().OnReceiveData = nullptr;
  connection_.comm().Close();
  for (QObject* control : std::initializer_list<QObject*>{Edit1, ComboBox1, Memo1, StringGrid1})
    control->disconnect(this);
  for (TzqIntEdit* edit : {zqIntEdit1, zqIntEdit2, zqIntEdit3, zqIntEdit4}) edit->OnChange = nullptr;
}

void TForm1::SetComCFGForm(TComCFGForm* form) {
  com_cfg_form_ = form;
  connection_.SetPortChoice(form->PortChoice());
}

void TForm1::CreateMenu() {
  MainMenu1 = new QMenuBar(this);
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  setMenuBar(MainMenu1);
  const auto item = [this](QMenu* menu, const char* name, const char* text, void (TForm1::*click)()) {
    QAction* action = menu->addAction(Q(text));
    action->setObjectName(Q(name));
    connect(action, &QAction::triggered, this, [this, click] { Guarded([&] { (this->*click)(); }); });
    return action;
  };
  N1 = MainMenu1->addMenu(QStringLiteral("Файл"));
  N1->setObjectName(QStringLiteral("N1"));
  N7 = item(N1, "N7", "Обновить", &TForm1::N7Click);
  N2 = item(N1, "N2", "Перепрошить", &TForm1::N2Click);
  N3 = item(N1, "N3", "Добавить файл", &TForm1::N3Click);
  N8 = item(N1, "N8", "Стереть все", &TForm1::N8Click);
  N9 = item(N1, "N9", "Сохранить константы", &TForm1::N9Click);
  N4 = MainMenu1->addMenu(QStringLiteral("Настройка"));
  N4->setObjectName(QStringLiteral("N4"));
  N5 = item(N4, "N5", "Связь", &TForm1::N5Click);
  N6 = MainMenu1->addAction(QStringLiteral("Выход"));
  N6->setObjectName(QStringLiteral("N6"));
  connect(N6, &QAction::triggered, this, [this] { Guarded([this] { N6Click(); }); });
}

void TForm1::CreateToolBar(QWidget* client) {
  ToolBar1 = Place(new QFrame(client), "ToolBar1", 0, 0, kClientWidth, 29);
  ToolBar1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  FillBackground(ToolBar1, kToolBarColour);
  AddGap("ToolButton2", 0, 8);
  ToolButton1 = AddToolButton("ToolButton1", 8, "Обновить", kImageRefresh, &TForm1::ToolButton1Click);
  AddGap("ToolButton3", 31, 8);
  ToolButton4 = AddToolButton("ToolButton4", 39, "Перепрошить", kImageDevice, &TForm1::ToolButton4Click);
  AddGap("ToolButton5", 62, 8);
  ToolButton6 = AddToolButton("ToolButton6", 70, "Добавить файл", kImageAddFile, &TForm1::ToolButton6Click);
  AddGap("ToolButton7", 93, 7);
  ToolButton8 = AddToolButton("ToolButton8", 100, "Стереть все", kImageErase, &TForm1::ToolButton8Click);
  AddGap("ToolButton14", 123, 8);
  ToolButton13 = AddToolButton("ToolButton13", 131, "Сохранить константы", kImageSheet,
                               &TForm1::ToolButton13Click);
  AddGap("ToolButton9", 154, 38);
  ToolButton10 = AddToolButton("ToolButton10", 192, "Настройка", kImageSettings,
                               &TForm1::ToolButton10Click);
  AddGap("ToolButton11", 215, 66);
  ProgressBar1 = Place(new QProgressBar(ToolBar1), "ProgressBar1", 281, 2, 150, 22);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
  AddGap("ToolButton12", 431, 8);
  // The counter takes the room up to the end of the bar, as a label sized to
  // its text would: a queue of thousands of commands still shows whole.
  Label4 = Place(new QLabel(QStringLiteral("Очередь команд:"), ToolBar1), "Label4", 439, 2,
                 kClientWidth - 439 - ToolBar1->frameWidth(), 22);
  Label4->setFont(WindowFont(true));
  Label4->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  progress_ = new DeferredProgress(ProgressBar1, Label4, this);
}

QToolButton* TForm1::AddToolButton(const char* name, int left, const char* hint, int image,
                                   void (TForm1::*click)()) {
  auto* button = Place(new QToolButton(ToolBar1), name, left, 2, 23, 22);
  button->setIcon(QIcon(QPixmap::fromImage(ImageList1(image))));
  button->setIconSize(QSize(kImageSize, kImageSize));
  button->setToolButtonStyle(Qt::ToolButtonIconOnly);
  button->setToolTip(Q(hint));
  button->setFocusPolicy(Qt::NoFocus);
  connect(button, &QToolButton::clicked, this, [this, click] { Guarded([&] { (this->*click)(); }); });
  return button;
}

// The separators of the tool bar are empty gaps.
void TForm1::AddGap(const char* name, int left, int width) {
  Place(new QWidget(ToolBar1), name, left, 2, width, 22);
}

// Labels and fields of the constants group, positions relative to the group.
// Tab order: time zone, summer time, identifier, local, global, serial.
void TForm1::CreateConstantsGroup(QWidget* client) {
  GroupBox1 = Place(new QGroupBox(QStringLiteral("Константы"), client), "GroupBox1", 0, 32, 377, 281);
  GroupBox1->setFont(WindowFont(true));

  zqIntEdit1 = Place(new TzqIntEdit(GroupBox1), "zqIntEdit1", 176, 36, 145, 19);
  ComboBox1 = Place(new QComboBox(GroupBox1), "ComboBox1", 176, 59, 195, 21);
  ComboBox1->setEditable(true);
  ComboBox1->setInsertPolicy(QComboBox::NoInsert);
  ComboBox1->addItems({QStringLiteral("Нет"), QStringLiteral("Есть (стандартный)")});
  ComboBox1->setCurrentIndex(0);
  Edit1 = Place(new QLineEdit(GroupBox1), "Edit1", 176, 12, 193, 19);
  Edit1->setMaxLength(20);
  Edit1->setValidator(new Cp1251Validator(Edit1));
  zqIntEdit3 = Place(new TzqIntEdit(GroupBox1), "zqIntEdit3", 120, 84, 41, 19);
  zqIntEdit4 = Place(new TzqIntEdit(GroupBox1), "zqIntEdit4", 288, 84, 81, 19);
  zqIntEdit2 = Place(new TzqIntEdit(GroupBox1), "zqIntEdit2", 120, 108, 121, 19);
  for (QWidget* field : std::initializer_list<QWidget*>{zqIntEdit1, ComboBox1, Edit1, zqIntEdit3,
                                                       zqIntEdit4, zqIntEdit2})
    field->setFont(WindowFont(true));
  ComboBox1->lineEdit()->setFont(WindowFont(true));
  setTabOrder(zqIntEdit1, ComboBox1);
  setTabOrder(ComboBox1, Edit1);
  setTabOrder(Edit1, zqIntEdit3);
  setTabOrder(zqIntEdit3, zqIntEdit4);
  setTabOrder(zqIntEdit4, zqIntEdit2);

  Label7 = BoldLabel(GroupBox1, "Label7", "Идентификатор модема:", 8, 16);
  Label1 = BoldLabel(GroupBox1, "Label1", "Смещение часового пояса:", 8, 40);
  Label3 = BoldLabel(GroupBox1, "Label3", "минут.", 328, 40);
  Label2 = BoldLabel(GroupBox1, "Label2", "Переход на летнее время:", 8, 64);
  Label14 = BoldLabel(GroupBox1, "Label14", "Локальный адрес:", 8, 88);
  Label15 = BoldLabel(GroupBox1, "Label15", "Глобальный адрес:", 171, 88);
  Label5 = BoldLabel(GroupBox1, "Label5", "Серийный номер:", 8, 112);
}

void TForm1::CreateLog(QWidget* client) {
  Memo1 = Place(new QPlainTextEdit(client), "Memo1", 380, 32, 374, 281);
  Memo1->setFont(WindowFont());
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // The log only grows; an undo history of it would grow without bound.
  Memo1->setUndoRedoEnabled(false);
  connect(Memo1, &QPlainTextEdit::textChanged, this, [this] { TrimLog(); });
}

// Row 0 of the table is the horizontal header and column 0 the vertical
// header, so both stay fixed when the cells scroll.
void TForm1::CreateFileTable(QWidget* client) {
  GroupBox2 = Place(new QGroupBox(QStringLiteral("Файловая система"), client), "GroupBox2", 0, 313,
                    753, 216);
  StringGrid1 = Place(new QTableWidget(1, device::FileTable::kColumns - 1, GroupBox2), "StringGrid1",
                      4, 13, 745, 196);
  StringGrid1->setFont(WindowFont(true));
  StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
  StringGrid1->setSelectionBehavior(QAbstractItemView::SelectItems);
  StringGrid1->setWordWrap(false);
  StringGrid1->setCornerButtonEnabled(false);
  StringGrid1->setStyleSheet(
      QStringLiteral("QTableWidget { background: %1; gridline-color: #A0A0A0; }"
                     "QHeaderView::section { background: %2; border: 0;"
                     "  border-right: 1px solid #808080; border-bottom: 1px solid #808080;"
                     "  padding-left: 2px; }"
                     "QHeaderView { background: %1; }")
          .arg(kWindowColour.name(), kFixedCellColour.name()));
  QHeaderView* top = StringGrid1->horizontalHeader();
  top->setFont(WindowFont(true));
  top->setFixedHeight(kRowHeight);
  top->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  top->setSectionResizeMode(QHeaderView::Fixed);
  top->setHighlightSections(false);
  for (int column = 1; column < device::FileTable::kColumns; ++column)
    StringGrid1->setColumnWidth(column - 1, kColumnWidths[column]);
  QHeaderView* side = StringGrid1->verticalHeader();
  side->setFont(WindowFont(true));
  side->setFixedWidth(kColumnWidths[0]);
  side->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  side->setSectionResizeMode(QHeaderView::Fixed);
  side->setDefaultSectionSize(kRowHeight);
  side->setMinimumSectionSize(kRowHeight);
  side->setHighlightSections(false);
  StringGrid1Corner = new QLabel(StringGrid1);
  StringGrid1Corner->setObjectName(QStringLiteral("StringGrid1Corner"));
  StringGrid1Corner->setFont(WindowFont(true));
  StringGrid1Corner->setGeometry(StringGrid1->frameWidth(), StringGrid1->frameWidth(),
                                 kColumnWidths[0], kRowHeight);
  StringGrid1Corner->setIndent(2);
  StringGrid1Corner->setStyleSheet(
      QStringLiteral("background: %1; border-right: 1px solid #808080;"
                     " border-bottom: 1px solid #808080;")
          .arg(kFixedCellColour.name()));
  connect(StringGrid1, &QTableWidget::cellDoubleClicked, this,
          [this] { Guarded([this] { StringGrid1DblClick(); }); });
  ShowTable();
}

void TForm1::CreateStatusBar(QWidget* client) {
  StatusBar1 = Place(new QStatusBar(client), "StatusBar1", 0, 527, kClientWidth, 22);
  StatusBar1->setSizeGripEnabled(false);
  StatusPanel0 = new QLabel(StatusBar1);
  StatusPanel0->setObjectName(QStringLiteral("StatusPanel0"));
  StatusPanel0->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  StatusBar1->addWidget(StatusPanel0, 1);
}

// User edits of the constants go straight into the model, where saving the
// constants reads them.
void TForm1::BindFields() {
  device::ConstantsFields& fields = session_.model().fields;
  connect(Edit1, &QLineEdit::textChanged, this,
          [&fields](const QString& text) { fields.identifier = text.toStdString(); });
  connect(ComboBox1, &QComboBox::editTextChanged, this,
          [this, &fields] { fields.summer_index = SummerIndex(); });
  connect(ComboBox1, &QComboBox::currentIndexChanged, this,
          [this, &fields] { fields.summer_index = SummerIndex(); });
  zqIntEdit1->OnChange = [this](TzqNumEdit* edit) { zqIntEdit1Change(edit); };
  zqIntEdit2->OnChange = [&fields](TzqNumEdit* edit) { fields.serial_number = edit->Value(); };
  zqIntEdit3->OnChange = [this](TzqNumEdit* edit) { zqIntEdit3Change(edit); };
  zqIntEdit4->OnChange = [this](TzqNumEdit* edit) { zqIntEdit4Change(edit); };
  ShowFields();
}

// The item whose text the combo box shows; -1 for a typed text that matches
// neither entry.
int TForm1::SummerIndex() const {
  return ComboBox1->findText(ComboBox1->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

void TForm1::ShowFields() {
  const device::ConstantsFields fields = session_.model().fields;
  Edit1->setText(QString::fromStdString(fields.identifier));
  zqIntEdit1->SetValue(fields.time_zone);
  const bool listed = fields.summer_index >= 0 && fields.summer_index < ComboBox1->count();
  ComboBox1->setCurrentIndex(listed ? fields.summer_index : -1);
  zqIntEdit3->SetValue(fields.local_address);
  zqIntEdit4->SetValue(fields.global_address);
  zqIntEdit2->SetValue(fields.serial_number);
}

void TForm1::ShowTable() {
  const device::FileTable table = device::DisplayTable(session_.model().directory);
  const int rows = std::max(1, table.row_count() - 1);
  StringGrid1->setRowCount(rows);
  StringGrid1Corner->setText(QString::fromStdString(table.cell(0, 0)));
  for (int column = 1; column < device::FileTable::kColumns; ++column) {
    StringGrid1->setHorizontalHeaderItem(
        column - 1, new QTableWidgetItem(QString::fromStdString(table.cell(0, column))));
  }
  for (int row = 1; row <= rows; ++row) {
    const bool present = row < table.row_count();
    StringGrid1->setVerticalHeaderItem(
        row - 1, new QTableWidgetItem(present ? QString::fromStdString(table.cell(row, 0)) : QString()));
    for (int column = 1; column < device::FileTable::kColumns; ++column) {
      auto* item = new QTableWidgetItem(present ? QString::fromStdString(table.cell(row, column))
                                                : QString());
      item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
      StringGrid1->setItem(row - 1, column - 1, item);
    }
  }
}

// The log keeps its one line; the status bar says why the port would not
// open and what to do about it.
void TForm1::ShowPortFailure(const std::string& port_name) {
  session_.model().status_panel = serial::DiagnosePort(port_name).Text();
  ShowStatus();
}

void TForm1::ShowStatus() {
  StatusPanel0->setText(QString::fromStdString(session_.model().status_panel));
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!event->spontaneous()) Guarded([this] { FormShow(); });
}

void TForm1::closeEvent(QCloseEvent* event) { FormClose(event); }

void TForm1::FormShow() {
  LinkPort().LoadPortSetting();
  OpenLinkPort();
  session_.StartAfresh();
}

// Only Yes closes the window; nothing is saved or logged on the way out.
void TForm1::FormClose(QCloseEvent* event) {
  const bool yes = dialogs_.ConfirmYesNo(this, Q(kConfirmCaption), Q(kExitQuestion));
  event->setAccepted(yes);
}

// The port dialog flow: scan, ask, store on OK, then the on-show sequence
// opens the link again on the chosen port.
void TForm1::N5Click() {
  connection_.ScanPorts();
  if (dialogs_.RunPortDialog(*com_cfg_form_)) LinkPort().SavePortSetting();
  FormShow();
}

void TForm1::N6Click() { close(); }
void TForm1::ToolButton1Click() { session_.Refresh(); }
void TForm1::ToolButton4Click() { session_.Reflash(); }
void TForm1::ToolButton6Click() { session_.AddFileAction(); }
void TForm1::ToolButton8Click() { session_.EraseAll(); }
void TForm1::ToolButton13Click() { session_.SaveConstants(); }

// The table's row r is file r - 1; the session ignores the header and the
// free-space row.
void TForm1::StringGrid1DblClick() {
  const int row = StringGrid1->currentRow();
  if (row < 0) return;
  session_.DeleteFileAtRow(row + 1);
}

void TForm1::zqIntEdit1Change(TzqNumEdit*) {
  zqIntEdit1->SetValue(device::LimitTimeZone(zqIntEdit1->Value()));
  session_.model().fields.time_zone = zqIntEdit1->Value();
}

void TForm1::zqIntEdit3Change(TzqNumEdit*) {
  zqIntEdit3->SetValue(device::LimitLocalAddress(zqIntEdit3->Value()));
  session_.model().fields.local_address = zqIntEdit3->Value();
}

void TForm1::zqIntEdit4Change(TzqNumEdit*) {
  zqIntEdit4->SetValue(device::LimitGlobalAddress(zqIntEdit4->Value()));
  session_.model().fields.global_address = zqIntEdit4->Value();
}

void TForm1::ShowError(const char* text) { dialogs_.ShowError(this, Q(text)); }

void TForm1::AppendLog(const std::string& line) {
  Memo1->appendPlainText(QString::fromStdString(line));
  // The newest line in view, from its start: a long line (a pulled cable's
  // reason) must not leave every line cut off on the left.
  Memo1->moveCursor(QTextCursor::End);
  Memo1->moveCursor(QTextCursor::StartOfBlock);
  Memo1->ensureCursorVisible();
  Memo1->horizontalScrollBar()->setValue(0);
}

// Once the log holds more than its capacity, the oldest lines go, so that
// new lines still appear; a single line longer than the capacity keeps its
// end.
void TForm1::TrimLog() {
  if (trimming_log_) return;
  QTextDocument* document = Memo1->document();
  const auto length = [document] { return document->characterCount() - 1; };
  if (length() <= kLogCapacity) return;
  trimming_log_ = true;
  QTextCursor cursor(document);
  while (length() > kLogCapacity && document->blockCount() > 1) {
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
  }
  if (length() > kLogCapacity) {
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor,
                        length() - kLogCapacity);
    cursor.removeSelectedText();
  }
  trimming_log_ = false;
}

void TForm1::OpenLinkPort() { connection_.OpenLinkPort(); }
void TForm1::CloseLinkPort() { connection_.CloseLinkPort(); }

bool TForm1::WriteData(const std::uint8_t* bytes, std::uint16_t count) {
  return connection_.WriteData(bytes, count);
}

void TForm1::StopWatchdog() { connection_.StopWatchdog(); }
void TForm1::StartWatchdog() { connection_.StartWatchdog(); }

void TForm1::SetProgressMaximum(int maximum) { progress_->SetMaximum(maximum); }
void TForm1::SetProgressPosition(int position) { progress_->SetPosition(position); }
void TForm1::SetQueueCounter(const std::string& text) {
  progress_->SetCounter(QString::fromStdString(text));
}

bool TForm1::ConfirmWarning(const std::string& text) {
  return dialogs_.WarningYesNo(this, QString::fromStdString(text));
}

std::optional<std::string> TForm1::ChooseFile(const device::FileChoice& choice) {
  const std::optional<QString> file =
      dialogs_.OpenFile(this, NameFilters(choice.filter), DefaultSuffix(choice.default_extension));
  if (!file) return std::nullopt;
  return file->toStdString();
}

void TForm1::ModelChanged(device::ModelPart part) {
  switch (part) {
    case device::ModelPart::kFields: ShowFields(); break;
    case device::ModelPart::kTable: ShowTable(); break;
    case device::ModelPart::kStatus: ShowStatus(); break;
  }
}

}  // namespace orvane::ui
