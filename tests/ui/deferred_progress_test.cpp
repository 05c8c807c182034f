#include "ui/deferred_progress.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QWidget>

#include <memory>

#include "tests/ui/window_fixture.h"

namespace orvane::ui::testing {
namespace {

class DeferredProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window.resize(300, 40);
    bar->setGeometry(0, 0, 150, 22);
    bar->setRange(0, 100);
    bar->setValue(0);
    counter->setGeometry(160, 0, 140, 22);
    window.show();
    QApplication::processEvents();
    bar_paints = std::make_unique<PaintCounter>(bar);
    counter_paints = std::make_unique<PaintCounter>(counter);
  }

  QWidget window;
  QProgressBar* bar = new QProgressBar(&window);
  QLabel* counter = new QLabel(QStringLiteral("Очередь команд:"), &window);
  std::unique_ptr<DeferredProgress> progress = std::make_unique<DeferredProgress>(bar, counter);
  std::unique_ptr<PaintCounter> bar_paints;
  std::unique_ptr<PaintCounter> counter_paints;
};

// What a reflash does: a new maximum, position and counter for each of
// thousands of queued commands, all within one handler.
TEST_F(DeferredProgressTest, ThousandsOfValuesInOneTurnAreDrawnOnceAsTheLast) {
  for (int length = 1; length <= 4097; ++length) {
    progress->SetMaximum(length);
    progress->SetPosition(length);
    progress->SetCounter(QStringLiteral("Очередь команд: %1.").arg(length));
  }
  EXPECT_EQ(bar->maximum(), 100);
  EXPECT_EQ(bar->value(), 0);
  EXPECT_EQ(counter->text(), "Очередь команд:");
  EXPECT_EQ(bar_paints->paints, 0);
  EXPECT_EQ(counter_paints->paints, 0);

  QApplication::processEvents();
  EXPECT_EQ(bar->maximum(), 4097);
  EXPECT_EQ(bar->value(), 4097);
  EXPECT_EQ(counter->text(), "Очередь команд: 4097.");
  EXPECT_LE(bar_paints->paints, 1);
  EXPECT_LE(counter_paints->paints, 1);
}

// Each case starts from maximum 100 and position 0; values are set in the
// order given, within one turn.
TEST_F(DeferredProgressTest, ShownValuesAreTheLastOfEachWithinTheLastRange) {
  struct Set {
    char what;  // 'm' maximum, 'p' position
    int value;
  };
  const struct {
    const char* name;
    std::vector<Set> sets;
    int maximum, position;
  } cases[] = {
      {"pops only move the position", {{'p', 70}, {'p', 69}}, 100, 69},
      {"a later maximum lets an earlier position stand", {{'p', 150}, {'m', 200}}, 200, 150},
      {"a position beyond the range is kept at its end", {{'m', 50}, {'p', 80}}, 50, 50},
      {"a cleared queue", {{'m', 4097}, {'p', 4097}, {'p', 0}}, 4097, 0},
      {"below the range", {{'p', -3}}, 100, 0},
  };
  for (const auto& c : cases) {
    bar->setRange(0, 100);
    bar->setValue(0);
    for (const Set& set : c.sets) {
      if (set.what == 'm') progress->SetMaximum(set.value);
      else progress->SetPosition(set.value);
    }
    QApplication::processEvents();
    EXPECT_EQ(bar->maximum(), c.maximum) << c.name;
    EXPECT_EQ(bar->value(), c.position) << c.name;
  }
}

TEST_F(DeferredProgressTest, ValuesPendingWhenItGoesAreDropped) {
  progress->SetPosition(7);
  progress.reset();
  QApplication::processEvents();
  EXPECT_EQ(bar->value(), 0);
}

}  // namespace
}  // namespace orvane::ui::testing
