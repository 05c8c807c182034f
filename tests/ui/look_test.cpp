// What the operator sees of the look: every text in the window font, flat
// controls, no grey below the file table's rows, the toolkit's dialogs in
// Russian.
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QTranslator>
#include <QTreeView>

#include "tests/ui/window_fixture.h"
#include "ui/look.h"
#include "ui/zqedit.h"
#include "ui/translations.h"

namespace orvane::ui::testing {
namespace {

QString Family(const QFont& font) { return QFontInfo(font).family(); }

class LookTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    CreateAndShow();
    cfg->show();
    QApplication::processEvents();
  }
  void TearDown() override {
    cfg->hide();
    WindowTest::TearDown();
  }
};

TEST_F(LookTest, EveryWidgetOfBothWindowsHasTheWindowFont) {
  const QFont window_font = WindowFont();
  QList<QWidget*> widgets = form->findChildren<QWidget*>();
  widgets.append(form.get());
  for (QWidget* widget : widgets) {
    const QString name = widget->objectName() + " " + widget->metaObject()->className();
    EXPECT_EQ(Family(widget->font()), Family(window_font)) << name.toStdString();
    EXPECT_EQ(QFontInfo(widget->font()).pixelSize(), 11) << name.toStdString();
  }
  EXPECT_TRUE(widgets.contains(form->N1));  // the menus are children of the window
  EXPECT_TRUE(widgets.contains(cfg->Button1));
}

TEST_F(LookTest, TextsMeasureAsTheWindowFontGivesThem) {
  const QFontMetrics regular(WindowFont());
  const QFontMetrics bold(WindowFont(true));
  const QString too_big = QStringLiteral("Файл слишком большой!");
  form->Session().model().status_panel = too_big.toStdString();
  form->ModelChanged(device::ModelPart::kStatus);
  EXPECT_EQ(form->StatusPanel0->fontMetrics().horizontalAdvance(too_big),
            regular.horizontalAdvance(too_big));
  // The captions of the two groups: the same face and size, the constants'
  // one bold.
  const QFont constants = form->GroupBox1->font();
  const QFont files = form->GroupBox2->font();
  EXPECT_EQ(Family(constants), Family(files));
  EXPECT_EQ(QFontInfo(constants).pixelSize(), QFontInfo(files).pixelSize());
  EXPECT_TRUE(constants.bold());
  EXPECT_FALSE(files.bold());
  // The dialog's label is as wide as its text in the window font.
  EXPECT_EQ(cfg->Label1->fontMetrics().horizontalAdvance(cfg->Label1->text()),
            regular.horizontalAdvance(cfg->Label1->text()));
  EXPECT_LE(cfg->Label1->width(), regular.boundingRect(cfg->Label1->text()).width() + 1);
  for (QPushButton* button : {cfg->Button1, cfg->Button2})
    EXPECT_EQ(button->fontMetrics().horizontalAdvance(button->text()),
              regular.horizontalAdvance(button->text()));
  const QString longest_counter = QStringLiteral("Очередь команд: 65535.");
  EXPECT_EQ(form->Label4->fontMetrics().horizontalAdvance(longest_counter),
            bold.horizontalAdvance(longest_counter));
  EXPECT_LE(bold.horizontalAdvance(longest_counter), form->Label4->width());
}

// A flat control: a border of one dark colour all round, square corners,
// and a face without shading from top to bottom.
TEST_F(LookTest, ControlsAreDrawnFlat) {
  form->ProgressBar1->setValue(0);
  const struct {
    QWidget* control;
    int face_x;  // a column of plain face, clear of text and arrows
  } controls[] = {{form->ComboBox1, 150},       {form->ProgressBar1, 75}, {form->Edit1, 180},
                  {form->zqIntEdit1, 5},        {cfg->ComboBox1, 120},    {cfg->Button1, 5},
                  {cfg->Button2, 5}};
  for (const auto& [control, face_x] : controls) {
    const QImage image = control->grab().toImage();
    const int right = image.width() - 1;
    const int bottom = image.height() - 1;
    const QColor border = image.pixelColor(0, 0);
    const std::string name = control->objectName().toStdString();
    EXPECT_LT(border.lightness(), 100) << name;
    for (const QPoint corner : {QPoint(right, 0), QPoint(0, bottom), QPoint(right, bottom)})
      EXPECT_EQ(image.pixelColor(corner), border) << name;
    EXPECT_EQ(image.pixelColor(face_x, 3), image.pixelColor(face_x, bottom - 3)) << name;
    EXPECT_NE(image.pixelColor(face_x, 3), border) << name;
  }
}

TEST_F(LookTest, NothingGreyBelowTheLastFileRow) {
  QTableWidget* grid = form->StringGrid1;
  const QImage image = grid->grab().toImage();
  const int below_rows = grid->horizontalHeader()->height() + grid->rowCount() * 19 + 10;
  ASSERT_LT(below_rows, image.height() - 10);
  for (const int x : {5, 15, 100, 700})
    EXPECT_EQ(image.pixelColor(x, below_rows), kWindowColour) << x;
}

// Runs the check on the box or dialog the call opens, then lets it close
// with the button the check pressed.
template <class Modal>
void WhenOpen(std::function<void(Modal*)> check) {
  QTimer::singleShot(0, [check] {
    auto* modal = qobject_cast<Modal*>(QApplication::activeModalWidget());
    ASSERT_NE(modal, nullptr);
    check(modal);
  });
}

QString Plain(QString text) { return text.remove(u'&'); }

TEST_F(LookTest, TheToolkitsDialogsSpeakRussian) {
  QTranslator* translator = InstallToolkitTranslations();
  ASSERT_NE(translator, nullptr) << "the package qt6-translations-l10n is missing";
  QtDialogs real;

  WhenOpen<QMessageBox>([](QMessageBox* box) {
    EXPECT_EQ(box->windowTitle(), "Подтверждение");
    EXPECT_EQ(box->text(), "Вы правда хотите выйти?");
    EXPECT_EQ(Plain(box->button(QMessageBox::Yes)->text()), "Да");
    EXPECT_EQ(Plain(box->button(QMessageBox::No)->text()), "Нет");
    EXPECT_TRUE(box->button(QMessageBox::Yes)->icon().isNull());
    EXPECT_EQ(Family(box->button(QMessageBox::Yes)->font()), Family(WindowFont()));
    box->button(QMessageBox::Yes)->click();
  });
  EXPECT_TRUE(real.ConfirmYesNo(form.get(), TForm1::kConfirmCaption, "Вы правда хотите выйти?"));

  WhenOpen<QMessageBox>([](QMessageBox* box) {
    EXPECT_EQ(box->windowTitle(), "Предупреждение");
    EXPECT_EQ(box->text(), "Все данные в пульте будут утеряны!\nПодтвердите операцию");
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No)) << "Enter alone does not destroy";
    box->button(QMessageBox::No)->click();
  });
  EXPECT_FALSE(real.WarningYesNo(form.get(), "Все данные в пульте будут утеряны!\n\rПодтвердите операцию"));

  WhenOpen<QFileDialog>([](QFileDialog* dialog) {
    EXPECT_EQ(dialog->windowTitle(), "Открыть");
    EXPECT_EQ(dialog->findChild<QLabel*>("lookInLabel")->text(), "Перейти к:");
    EXPECT_EQ(Plain(dialog->findChild<QLabel*>("fileNameLabel")->text()), "Имя файла:");
    QDialogButtonBox* buttons = dialog->findChild<QDialogButtonBox*>("buttonBox");
    EXPECT_EQ(Plain(buttons->button(QDialogButtonBox::Open)->text()), "Открыть");
    EXPECT_EQ(Plain(buttons->button(QDialogButtonBox::Cancel)->text()), "Отмена");
    QHeaderView* columns = dialog->findChild<QTreeView*>("treeView")->header();
    for (int column = 1; column < columns->count(); ++column)
      EXPECT_EQ(columns->sectionResizeMode(column), QHeaderView::ResizeToContents) << column;
    dialog->reject();
  });
  EXPECT_EQ(real.OpenFile(form.get(), {"Зашифрованные прошивки (*.mts)"}, "mts"), std::nullopt);

  QCoreApplication::removeTranslator(translator);
  delete translator;
}

}  // namespace
}  // namespace orvane::ui::testing
