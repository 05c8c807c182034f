// Single-line edits that hold an integer. Only characters that can form a
// number can be typed, a paste replaces the whole content by the pasted
// number, and the text and the integer Value are kept in step both ways.
#pragma once

#include <QClipboard>
#include <QLineEdit>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace orvane::ui {

// The text-to-integer conversion of the numeric edits: leading spaces, one
// optional sign, then decimal digits or a hexadecimal number after "$", "x",
// "X", "0x" or "0X". The number must fill the rest of the text and fit a
// signed 32-bit integer; anything else is nothing.
std::optional<std::int32_t> ParseInteger(const QString& text);
// The same, with 0 for text that is not a number.
std::int32_t IntegerFromText(const QString& text);

class TzqCustomEdit : public QLineEdit {
  Q_OBJECT

 public:
  enum TAlignment { taLeftJustify = 0, taRightJustify = 1, taCenter = 2 };

  explicit TzqCustomEdit(QWidget* owner = nullptr);

  TAlignment Alignment() const { return alignment_; }
  // The edit styles left, right and centre are Qt's alignment flags; Qt
  // mirrors left and right itself for a right-to-left layout.
  void SetAlignment(TAlignment alignment);

 private:
  TAlignment alignment_ = taLeftJustify;
};

class TzqNumEdit : public TzqCustomEdit {
  Q_OBJECT

 public:
  using TNotifyEvent = std::function<void(TzqNumEdit* sender)>;
  using BeepFunction = std::function<void()>;

  explicit TzqNumEdit(QWidget* owner = nullptr);

  QString TextValue() const { return text(); }
  std::int32_t Digits() const { return digits_; }
  void SetDigits(std::int32_t digits);
  std::int32_t Value() const { return value_; }
  void SetValue(std::int32_t value);

  // Fired after every change of the text, once the value is in step.
  TNotifyEvent OnChange;

  // Replaces the whole content by the number in the given clipboard text.
  void Paste(QClipboard::Mode mode = QClipboard::Clipboard);
  void PasteText(const QString& text);

  // The sound of a refused character; QApplication::beep unless replaced.
  static void SetBeepFunction(BeepFunction beep);

 protected:
  virtual bool CharAllowed(QChar character) const = 0;
  virtual void TextFromValue() = 0;
  virtual void TextEdited();
  virtual std::int32_t ValueFromText() = 0;

  // Writes the text of the current value with the updating flag set; the
  // concrete edits call it at the end of their construction.
  void WriteTextFromValue();
  // Replaces the text unless it is already the same.
  void ReplaceText(const QString& text);

  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  bool RefuseTyped(const QString& typed);
  static void Beep();

  std::int32_t value_ = 0;
  std::int32_t digits_ = 0;
  bool updating_ = false;
};

class TzqIntEdit : public TzqNumEdit {
  Q_OBJECT

 public:
  explicit TzqIntEdit(QWidget* owner = nullptr);

 protected:
  bool CharAllowed(QChar character) const override;
  void TextFromValue() override;
  void TextEdited() override;
  std::int32_t ValueFromText() override { return Value(); }
};

}  // namespace orvane::ui
