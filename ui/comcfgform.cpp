#include "ui/comcfgform.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/icons.h"
#include "ui/look.h"

namespace orvane::ui {

TPortComboBox::TPortComboBox(QWidget* parent) : QComboBox(parent) {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
}

std::string TPortComboBox::Text() const { return currentText().toStdString(); }

void TPortComboBox::SetText(const std::string& text) { setEditText(QString::fromStdString(text)); }

void TPortComboBox::ClearList() {
  const QString text = currentText();
  clear();
  setEditText(text);
}

void TPortComboBox::AddToList(const std::string& name) {
  const QString text = currentText();
  addItem(QString::fromStdString(name));
  setEditText(text);
}

// Controls are created in their tab order: the default button first, so that
// Enter right after the dialog opens saves the text as it stands.
TComCFGForm::TComCFGForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("ComCFGForm"));
  setWindowTitle(QStringLiteral("Настройка связи"));
  setWindowIcon(QIcon(QPixmap::fromImage(ProgramIcon())));
  setFont(WindowFont());
  setStyleSheet(FlatStyleSheet());
  FillBackground(this, kDialogColour);
  setFixedSize(201, 114);
  move(464, 385);

  Button1 = new QPushButton(QStringLiteral("Сохранить"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(16, 72, 75, 25);
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

  Button2 = new QPushButton(QStringLiteral("Выйти"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setGeometry(112, 72, 75, 25);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

  ComboBox1 = new TPortComboBox(this);
  ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
  ComboBox1->setGeometry(8, 32, 185, 21);
  ComboBox1->setFont(WindowFont(true));
  ComboBox1->lineEdit()->setFont(WindowFont(true));

  Label1 = new QLabel(QStringLiteral("Выберите COM-порт:"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->move(8, 8);
  Label1->setStyleSheet(QStringLiteral("color: #FFFFFF;"));
  Label1->adjustSize();

  setTabOrder(Button1, Button2);
  setTabOrder(Button2, ComboBox1);
  Button1->setFocus();
}

}  // namespace orvane::ui
