// What the window tests share: dialogs answered from a script, a
// pseudo-terminal to open as the link port, the settings store and waits on
// the event loop.
#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/session.h"
#include "serial/settings.h"
#include "ui/comcfgform.h"
#include "ui/dialogs.h"
#include "ui/form1.h"

namespace orvane::ui::testing {

class ScriptedDialogs : public Dialogs {
 public:
  struct Confirmation {
    QString caption, text;
  };
  struct FileRequest {
    QStringList filters;
    QString suffix;
  };

  std::deque<bool> warning_answers;   // default No
  std::deque<bool> confirm_answers;   // default No
  std::deque<std::optional<QString>> files;  // default cancel
  std::function<bool(TComCFGForm&)> port_dialog = [](TComCFGForm&) { return false; };

  std::vector<QString> warnings;
  std::vector<Confirmation> confirmations;
  std::vector<FileRequest> file_requests;
  std::vector<QString> errors;
  int port_dialogs = 0;

  bool WarningYesNo(QWidget*, const QString& text) override {
    warnings.push_back(text);
    return Next(warning_answers);
  }
  bool ConfirmYesNo(QWidget*, const QString& caption, const QString& text) override {
    confirmations.push_back({caption, text});
    return Next(confirm_answers);
  }
  std::optional<QString> OpenFile(QWidget*, const QStringList& filters, const QString& suffix) override {
    file_requests.push_back({filters, suffix});
    if (files.empty()) return std::nullopt;
    const bool cancelled = !files.front().has_value();
    const QString path = files.front().value_or(QString());
    files.pop_front();
    if (cancelled) return std::nullopt;
    return path;
  }
  bool RunPortDialog(TComCFGForm& dialog) override {
    ++port_dialogs;
    return port_dialog(dialog);
  }
  void ShowError(QWidget*, const QString& text) override { errors.push_back(text); }

 private:
  static bool Next(std::deque<bool>& answers) {
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

// The far side of a pseudo-terminal; the window opens the port side.
class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) port_ = ptsname(master_);
  }
  ~Pty() {
    if (master_ >= 0) close(master_);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  const std::string& port() const { return port_; }

 private:
  int master_ = -1;
  std::string port_;
};

inline QSettings Store() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Veltranix", "Orvane");
}

inline void ClearStore() {
  QSettings store = Store();
  store.clear();
  store.sync();
}

// Makes COMn of the test's port folder lead to the given device.
inline void LinkComPort(int number, const std::string& device) {
  const std::filesystem::path link =
      std::filesystem::path(std::getenv("ORVANE_PORT_DIR")) / ("COM" + std::to_string(number));
  std::filesystem::remove(link);
  std::filesystem::create_symlink(device, link);
}

inline void ClearComPorts() {
  for (const auto& entry : std::filesystem::directory_iterator(std::getenv("ORVANE_PORT_DIR")))
    std::filesystem::remove(entry.path());
}

template <class Predicate>
bool WaitUntil(Predicate predicate, int limit_ms = 5000) {
  QDeadlineTimer deadline(limit_ms);
  while (!predicate()) {
    if (deadline.hasExpired()) return false;
    QTest::qWait(2);
  }
  return true;
}

// One turn of the event loop: what the window shows once the handler that
// changed it has returned.
inline void NextTurn() { QCoreApplication::processEvents(); }

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// A double click as the window system delivers it: a click, then a press
// that comes with the double-click event, then the release.
inline void DoubleClick(QWidget* widget, QPoint at) {
  QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, at);
  QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, at);
  QMouseEvent double_click(QEvent::MouseButtonDblClick, QPointF(at), QPointF(widget->mapToGlobal(at)),
                           Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(widget, &double_click);
  QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, at);
}

struct QueuedCommand {
  std::uint8_t command;
  std::vector<std::uint8_t> data;
  bool operator==(const QueuedCommand&) const = default;
};

inline std::vector<QueuedCommand> QueueOf(device::Session& session) {
  std::vector<QueuedCommand> commands;
  const auto& queue = session.link().queue();
  for (std::size_t i = 0; i < queue.size(); ++i) {
    const auto payload = queue.at(i).Payload();
    commands.push_back({queue.at(i).command, {payload.begin(), payload.end()}});
  }
  return commands;
}

// A window with its port dialog, as the program creates them.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearStore();
    ClearComPorts();
  }
  void TearDown() override { Destroy(); }

  void Create() {
    form = std::make_unique<TForm1>(dialogs);
    cfg = new TComCFGForm(form.get());
    form->SetComCFGForm(cfg);
  }
  void CreateAndShow() {
    Create();
    form->show();
  }
  void Destroy() {
    if (!form) return;
    form->Timer1().stop();
    form.reset();
  }

  QStringList Log() const { return form->Memo1->toPlainText().split(u'\n'); }
  // The lines logged after the first count.
  QStringList LogFrom(qsizetype count) const { return Log().mid(count); }

  ScriptedDialogs dialogs;
  std::unique_ptr<TForm1> form;
  TComCFGForm* cfg = nullptr;
};

inline QStringList Lines(std::initializer_list<const char*> lines) {
  QStringList list;
  for (const char* line : lines) list.append(QString::fromUtf8(line));
  return list;
}

}  // namespace orvane::ui::testing
