#include "ui/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QTreeView>

#include "ui/comcfgform.h"

namespace orvane::ui {
namespace {

// The list of files gives the size, type and date columns the width of what
// they show and the name column the rest.
void ShowDetailsWhole(QFileDialog& dialog) {
  auto* details = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
  if (!details) return;
  details->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  details->header()->setSectionResizeMode(0, QHeaderView::Stretch);
}

}  // namespace

QStringList NameFilters(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(u'|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(u';', u' ');
    filters.append(QStringLiteral("%1 (%2)").arg(parts[i], patterns));
  }
  return filters;
}

QString DefaultSuffix(const std::string& extension) {
  QString suffix = QString::fromStdString(extension);
  while (suffix.startsWith(u'*') || suffix.startsWith(u'.')) suffix.remove(0, 1);
  return suffix;
}

QString MessageText(const QString& text) {
  QString message = text;
  message.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
  message.remove(u'\r');
  return message;
}

// The warnings come before erasing and reflashing: Enter alone must not
// destroy, so "Нет" is the default button.
bool QtDialogs::WarningYesNo(QWidget* parent, const QString& text) {
  return QMessageBox::warning(parent, QStringLiteral("Предупреждение"), MessageText(text),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
         QMessageBox::Yes;
}

bool QtDialogs::ConfirmYesNo(QWidget* parent, const QString& caption, const QString& text) {
  return QMessageBox::question(parent, caption, MessageText(text), QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::Yes) == QMessageBox::Yes;
}

std::optional<QString> QtDialogs::OpenFile(QWidget* parent, const QStringList& name_filters,
                                           const QString& default_suffix) {
  QFileDialog dialog(parent, QString(), start_folder_);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters(name_filters);
  dialog.setDefaultSuffix(default_suffix);
  ShowDetailsWhole(dialog);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().constFirst();
}

bool QtDialogs::RunPortDialog(TComCFGForm& dialog) { return dialog.exec() == QDialog::Accepted; }

// The report the toolkit gave an unhandled error: the text under the
// program's title, with an OK button.
void QtDialogs::ShowError(QWidget* parent, const QString& text) {
  QMessageBox::critical(parent, QApplication::applicationName(), text);
}

}  // namespace orvane::ui
