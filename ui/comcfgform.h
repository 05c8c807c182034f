// The port settings dialog "Настройка связи": the found ports in a combo box
// whose text is the chosen port name, and the buttons "Сохранить" and
// "Выйти". It exists, hidden, for the whole run: its combo box is where the
// chosen port name lives.
#pragma once

#include <QComboBox>
#include <QDialog>

#include "serial/link_port.h"

class QLabel;
class QPushButton;

namespace orvane::ui {

// A combo box whose text can be typed into, as the link port's choice: the
// text is the port name, the list the ports of the last scan. Filling the
// list never changes the text.
class TPortComboBox : public QComboBox, public serial::PortChoice {
  Q_OBJECT

 public:
  explicit TPortComboBox(QWidget* parent = nullptr);

  std::string Text() const override;
  void SetText(const std::string& text) override;
  void ClearList() override;
  void AddToList(const std::string& name) override;
};

class TComCFGForm : public QDialog {
  Q_OBJECT

 public:
  explicit TComCFGForm(QWidget* parent = nullptr);

  serial::PortChoice& PortChoice() { return *ComboBox1; }

  QLabel* Label1;
  QPushButton* Button1;  // "Сохранить": OK, the default button
  QPushButton* Button2;  // "Выйти": Cancel
  TPortComboBox* ComboBox1;
};

}  // namespace orvane::ui
