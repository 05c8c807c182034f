#include "ui/comcfgform.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "ui/dialogs.h"
#include "ui/look.h"

namespace orvane::ui {
namespace {

TEST(ComCFGForm, LayoutTextsAndColours) {
  TComCFGForm form;
  EXPECT_EQ(form.windowTitle(), "Настройка связи");
  EXPECT_EQ(form.size(), QSize(201, 114));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_EQ(form.palette().color(QPalette::Window), kDialogColour);
  EXPECT_EQ(form.Label1->text(), "Выберите COM-порт:");
  EXPECT_EQ(form.Label1->pos(), QPoint(8, 8));
  // The label takes the width of its text, and the text stays inside the dialog.
  EXPECT_EQ(form.Label1->width(), form.Label1->sizeHint().width());
  EXPECT_LE(form.Label1->x() + form.Label1->width(), form.width() - 8);
  EXPECT_EQ(form.Label1->palette().color(QPalette::WindowText), QColor(0xFF, 0xFF, 0xFF));
  EXPECT_EQ(form.ComboBox1->geometry(), QRect(8, 32, 185, 21));
  EXPECT_TRUE(form.ComboBox1->font().bold());
  form.show();
  EXPECT_TRUE(form.ComboBox1->lineEdit()->font().bold());
  form.hide();
  EXPECT_TRUE(form.ComboBox1->isEditable());
  EXPECT_EQ(form.ComboBox1->count(), 0);
  EXPECT_EQ(form.Button1->text(), "Сохранить");
  EXPECT_EQ(form.Button1->geometry(), QRect(16, 72, 75, 25));
  EXPECT_TRUE(form.Button1->isDefault());
  EXPECT_EQ(form.Button2->text(), "Выйти");
  EXPECT_EQ(form.Button2->geometry(), QRect(112, 72, 75, 25));
  EXPECT_LE(form.Button1->fontMetrics().horizontalAdvance(form.Button1->text()) + 8, 75);
  EXPECT_EQ(form.Button1->nextInFocusChain(), form.Button2);
  EXPECT_EQ(form.Button2->nextInFocusChain(), form.ComboBox1);
}

// Runs the dialog modally and presses the key in it once it is up.
int ExecAndPress(TComCFGForm& form, Qt::Key key) {
  QTimer::singleShot(0, &form, [&form, key] {
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &form;
    QTest::keyClick(target, key);
  });
  return form.exec();
}

TEST(ComCFGForm, EnterRightAfterOpeningSavesAndEscapeLeaves) {
  TComCFGForm form;
  form.PortChoice().SetText("COM7");
  EXPECT_EQ(ExecAndPress(form, Qt::Key_Return), QDialog::Accepted);
  EXPECT_EQ(form.PortChoice().Text(), "COM7");
  EXPECT_EQ(ExecAndPress(form, Qt::Key_Escape), QDialog::Rejected);
}

TEST(ComCFGForm, ButtonsCloseWithTheirResults) {
  TComCFGForm form;
  QTimer::singleShot(0, &form, [&form] { QTest::mouseClick(form.Button2, Qt::LeftButton); });
  EXPECT_EQ(form.exec(), QDialog::Rejected);
  QTimer::singleShot(0, &form, [&form] { QTest::mouseClick(form.Button1, Qt::LeftButton); });
  EXPECT_EQ(form.exec(), QDialog::Accepted);
}

TEST(ComCFGForm, FillingTheListKeepsTheChosenText) {
  TComCFGForm form;
  serial::PortChoice& choice = form.PortChoice();
  choice.SetText("COM9");
  choice.AddToList("COM1");
  choice.AddToList("COM4");
  EXPECT_EQ(choice.Text(), "COM9");
  ASSERT_EQ(form.ComboBox1->count(), 2);
  EXPECT_EQ(form.ComboBox1->itemText(0), "COM1");
  EXPECT_EQ(form.ComboBox1->itemText(1), "COM4");
  choice.ClearList();
  EXPECT_EQ(form.ComboBox1->count(), 0);
  EXPECT_EQ(choice.Text(), "COM9");
  choice.SetText("");
  EXPECT_EQ(choice.Text(), "");
}

TEST(ComCFGForm, EnterInTheTypedNameSavesWithoutAddingItToTheList) {
  TComCFGForm form;
  QTimer::singleShot(0, &form, [&form] {
    form.ComboBox1->setFocus();
    form.ComboBox1->lineEdit()->selectAll();
    QTest::keyClicks(form.ComboBox1->lineEdit(), QStringLiteral("/dev/ttyUSB3"));
    QTest::keyClick(form.ComboBox1->lineEdit(), Qt::Key_Return);
  });
  EXPECT_EQ(form.exec(), QDialog::Accepted);
  EXPECT_EQ(form.PortChoice().Text(), "/dev/ttyUSB3");
  EXPECT_EQ(form.ComboBox1->count(), 0);
}

TEST(DialogTexts, FiltersSuffixesAndLineBreaks) {
  EXPECT_EQ(NameFilters("Годовой план АСУДД (версия 1)|*.yp1"),
            QStringList{"Годовой план АСУДД (версия 1) (*.yp1)"});
  EXPECT_EQ(NameFilters("Plans|*.yp1;*.R0|All|*"), (QStringList{"Plans (*.yp1 *.R0)", "All (*)"}));
  EXPECT_TRUE(NameFilters("").isEmpty());
  EXPECT_EQ(DefaultSuffix("*.mts"), "mts");
  EXPECT_EQ(DefaultSuffix(".mts"), "mts");
  EXPECT_EQ(DefaultSuffix(""), "");
  EXPECT_EQ(MessageText(QStringLiteral("Все данные!\n\rПодтвердите")), "Все данные!\nПодтвердите");
}

}  // namespace
}  // namespace orvane::ui
