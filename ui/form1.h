// The configurator's main window "Конфигуратор KV80-модемов": the menu and
// the tool bar of the device actions, the constants group, the log, the file
// table, the progress bar and the queue counter, and the serial port and the
// watchdog of the link.
#pragma once

#include <QMainWindow>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "device/host.h"
#include "device/session.h"
#include "serial/connection.h"

class QAction;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QProgressBar;
class QStatusBar;
class QTableWidget;
class QToolButton;

namespace orvane::ui {

class DeferredProgress;
class Dialogs;
class TComCFGForm;
class TzqIntEdit;
class TzqNumEdit;

class TForm1 : public QMainWindow, public device::Host {
  Q_OBJECT

 public:
  static constexpr int kLogCapacity = 100000;  // characters of Memo1
  static constexpr const char* kExitQuestion = "Вы правда хотите выйти?";
  static constexpr const char* kConfirmCaption = "Подтверждение";

  explicit TForm1(Dialogs& dialogs, QWidget* parent = nullptr);
  ~TForm1() override;

  // The port dialog is created after the window and lives as long; its combo
  // box holds the chosen port name.
  void SetComCFGForm(TComCFGForm* form);

  device::Session& Session() { return session_; }
  serial::TSerialComm& SerialComm1() { return connection_.comm(); }
  QTimer& Timer1() { return connection_.watchdog(); }

  // Handlers, named after the controls that fire them. Each menu handler
  // only calls the handler of the matching tool button.
  void FormShow();
  void N7Click() { ToolButton1Click(); }
  void N2Click() { ToolButton4Click(); }
  void N3Click() { ToolButton6Click(); }
  void N8Click() { ToolButton8Click(); }
  void N9Click() { ToolButton13Click(); }
  void N5Click();
  void N6Click();
  void ToolButton1Click();
  void ToolButton4Click();
  void ToolButton6Click();
  void ToolButton8Click();
  void ToolButton13Click();
  void ToolButton10Click() { N5Click(); }
  void StringGrid1DblClick();
  void zqIntEdit1Change(TzqNumEdit* sender);
  void zqIntEdit3Change(TzqNumEdit* sender);
  void zqIntEdit4Change(TzqNumEdit* sender);

  // device::Host
  void AppendLog(const std::string& line) override;
  void ShowPortFailure(const std::string& port_name);
  void OpenLinkPort() override;
  void CloseLinkPort() override;
  bool WriteData(const std::uint8_t* bytes, std::uint16_t count) override;
  void StopWatchdog() override;
  void StartWatchdog() override;
  void SetProgressMaximum(int maximum) override;
  void SetProgressPosition(int position) override;
  void SetQueueCounter(const std::string& text) override;
  bool ConfirmWarning(const std::string& text) override;
  std::optional<std::string> ChooseFile(const device::FileChoice& choice) override;
  void ModelChanged(device::ModelPart part) override;
  void OperationEnded(const link::OperationEnd&) override {}

  // Runs a handler; an error that escapes it is shown in a message box with
  // its text, and the program goes on.
  template <class Handler>
  void Guarded(Handler&& handler);

  QMenuBar* MainMenu1;
  QMenu* N1;  // "Файл"
  QAction* N7;
  QAction* N2;
  QAction* N3;
  QAction* N8;
  QAction* N9;
  QMenu* N4;  // "Настройка"
  QAction* N5;
  QAction* N6;  // "Выход"

  QFrame* ToolBar1;
  QToolButton* ToolButton1;
  QToolButton* ToolButton4;
  QToolButton* ToolButton6;
  QToolButton* ToolButton8;
  QToolButton* ToolButton13;
  QToolButton* ToolButton10;
  QProgressBar* ProgressBar1;
  QLabel* Label4;

  QGroupBox* GroupBox1;
  QLabel* Label7;
  QLineEdit* Edit1;
  QLabel* Label1;
  TzqIntEdit* zqIntEdit1;
  QLabel* Label3;
  QLabel* Label2;
  QComboBox* ComboBox1;
  QLabel* Label14;
  TzqIntEdit* zqIntEdit3;
  QLabel* Label15;
  TzqIntEdit* zqIntEdit4;
  QLabel* Label5;
  TzqIntEdit* zqIntEdit2;

  QPlainTextEdit* Memo1;
  QGroupBox* GroupBox2;
  QTableWidget* StringGrid1;
  QLabel* StringGrid1Corner;  // the fixed cell above the number column
  QStatusBar* StatusBar1;
  QLabel* StatusPanel0;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormClose(QCloseEvent* event);
  void ShowError(const char* text);
  serial::LinkPort& LinkPort() { return connection_.port(); }
  void CreateMenu();
  void CreateToolBar(QWidget* client);
  QToolButton* AddToolButton(const char* name, int left, const char* hint, int image,
                             void (TForm1::*click)());
  void AddGap(const char* name, int left, int width);
  void CreateConstantsGroup(QWidget* client);
  void CreateLog(QWidget* client);
  void CreateFileTable(QWidget* client);
  void CreateStatusBar(QWidget* client);
  void BindFields();
  void ShowFields();
  void ShowTable();
  void ShowStatus();
  void TrimLog();
  int SummerIndex() const;

  Dialogs& dialogs_;
  serial::Connection connection_;
  device::Session session_;
  TComCFGForm* com_cfg_form_ = nullptr;
  DeferredProgress* progress_ = nullptr;
  bool trimming_log_ = false;
};

template <class Handler>
void TForm1::Guarded(Handler&& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ShowError(error.what());
  } catch (...) {
    ShowError("Unknown error");
  }
}

}  // namespace orvane::ui
