// The message boxes and file dialogs of the window, behind one interface so
// that tests can answer them.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <string>

class QWidget;

namespace orvane::ui {

class TComCFGForm;

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // A warning with the buttons Yes and No; true only for Yes.
  virtual bool WarningYesNo(QWidget* parent, const QString& text) = 0;
  // A question with the buttons Yes and No under the given caption.
  virtual bool ConfirmYesNo(QWidget* parent, const QString& caption, const QString& text) = 0;
  // An open dialog that also takes names of files that do not exist;
  // nothing when cancelled.
  virtual std::optional<QString> OpenFile(QWidget* parent, const QStringList& name_filters,
                                          const QString& default_suffix) = 0;
  // Shows the port dialog modally; true when it closed with OK.
  virtual bool RunPortDialog(TComCFGForm& dialog) = 0;
  // The report of an error that escaped a handler.
  virtual void ShowError(QWidget* parent, const QString& text) = 0;
};

// The real boxes and dialogs.
class QtDialogs : public Dialogs {
 public:
  // Open dialogs start in this folder; empty means the working folder.
  void SetStartFolder(const QString& folder) { start_folder_ = folder; }

  bool WarningYesNo(QWidget* parent, const QString& text) override;
  bool ConfirmYesNo(QWidget* parent, const QString& caption, const QString& text) override;
  std::optional<QString> OpenFile(QWidget* parent, const QStringList& name_filters,
                                  const QString& default_suffix) override;
  bool RunPortDialog(TComCFGForm& dialog) override;
  void ShowError(QWidget* parent, const QString& text) override;

 private:
  QString start_folder_;
};

// "Caption|*.ext|Other|*.a;*.b" as name filters: "Caption (*.ext)", ...
QStringList NameFilters(const std::string& filter);
// A default extension such as "*.mts" or ".mts" as the suffix "mts".
QString DefaultSuffix(const std::string& extension);
// Message texts break lines with "\n\r"; a box shows each break once.
QString MessageText(const QString& text);

}  // namespace orvane::ui
