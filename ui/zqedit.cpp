#include "ui/zqedit.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>

#include <algorithm>
#include <limits>
#include <memory>

namespace orvane::ui {
namespace {

int DigitValue(QChar c, int base) {
  const char16_t u = c.unicode();
  int digit = -1;
  if (u >= '0' && u <= '9') digit = u - '0';
  else if (base == 16 && u >= 'a' && u <= 'f') digit = u - 'a' + 10;
  else if (base == 16 && u >= 'A' && u <= 'F') digit = u - 'A' + 10;
  return digit < base ? digit : -1;
}

// Sets a flag for the lifetime of the object, so that an exception thrown by
// an OnChange handler cannot leave it set.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
};

TzqNumEdit::BeepFunction& BeepHook() {
  static TzqNumEdit::BeepFunction beep = [] { QApplication::beep(); };
  return beep;
}

}  // namespace

std::optional<std::int32_t> ParseInteger(const QString& text) {
  qsizetype i = 0;
  const qsizetype n = text.size();
  while (i < n && text[i] == u' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  int base = 10;
  if (i < n && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
    base = 16;
    i += 2;
  }
  if (i == n) return std::nullopt;
  // Accumulate the magnitude in 64 bits; it stays below 2^32 + 16 because
  // anything beyond 2^31 is refused as soon as it appears.
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (; i < n; ++i) {
    const int digit = DigitValue(text[i], base);
    if (digit < 0) return std::nullopt;
    magnitude = magnitude * base + digit;
    if (magnitude > kLimit) return std::nullopt;
  }
  if (!negative && magnitude == kLimit) return std::nullopt;
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::int32_t IntegerFromText(const QString& text) { return ParseInteger(text).value_or(0); }

TzqCustomEdit::TzqCustomEdit(QWidget* owner) : QLineEdit(owner) {
  setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void TzqCustomEdit::SetAlignment(TAlignment alignment) {
  if (alignment == alignment_) return;
  alignment_ = alignment;
  Qt::Alignment horizontal = Qt::AlignLeft;
  if (alignment == taRightJustify) horizontal = Qt::AlignRight;
  if (alignment == taCenter) horizontal = Qt::AlignHCenter;
  setAlignment(horizontal | Qt::AlignVCenter);
}

TzqNumEdit::TzqNumEdit(QWidget* owner) : TzqCustomEdit(owner) {
  connect(this, &QLineEdit::textChanged, this, [this] { TextEdited(); });
  SetAlignment(taRightJustify);
}

void TzqNumEdit::SetValue(std::int32_t value) {
  if (value == value_) return;
  FlagScope updating(updating_);
  value_ = value;
  TextFromValue();
}

void TzqNumEdit::SetDigits(std::int32_t digits) {
  if (digits == digits_) return;
  FlagScope updating(updating_);
  digits_ = digits;
  TextFromValue();
}

void TzqNumEdit::WriteTextFromValue() {
  FlagScope updating(updating_);
  TextFromValue();
}

void TzqNumEdit::ReplaceText(const QString& text) {
  if (this->text() != text) setText(text);
}

void TzqNumEdit::TextEdited() {
  if (!updating_) value_ = ValueFromText();
  if (OnChange) OnChange(this);
}

void TzqNumEdit::SetBeepFunction(BeepFunction beep) { BeepHook() = std::move(beep); }

void TzqNumEdit::Beep() {
  if (BeepHook()) BeepHook()();
}

void TzqNumEdit::Paste(QClipboard::Mode mode) {
  if (!isEnabled() || isReadOnly()) return;
  PasteText(QGuiApplication::clipboard()->text(mode));
}

void TzqNumEdit::PasteText(const QString& text) {
  if (!isEnabled() || isReadOnly()) return;
  FlagScope updating(updating_);
  value_ = IntegerFromText(text);
  TextFromValue();
}

// True (after the beep) when the typed text holds a character the edit does
// not take. Keys that type nothing printable (Delete, the arrows, backspace,
// the shortcuts) are never refused.
bool TzqNumEdit::RefuseTyped(const QString& typed) {
  const bool refused = std::any_of(typed.begin(), typed.end(), [this](QChar c) {
    return c.isPrint() && !CharAllowed(c);
  });
  if (refused) Beep();
  return refused;
}

void TzqNumEdit::keyPressEvent(QKeyEvent* event) {
  const bool shift_insert =
      event->key() == Qt::Key_Insert && event->modifiers() == Qt::ShiftModifier;
  if (event->matches(QKeySequence::Paste) || shift_insert) {
    Paste();
    event->accept();
    return;
  }
  const bool shortcut = event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
  if (!shortcut && RefuseTyped(event->text())) {
    event->accept();
    return;
  }
  TzqCustomEdit::keyPressEvent(event);
}

// Text composed by an input method is typed text too.
void TzqNumEdit::inputMethodEvent(QInputMethodEvent* event) {
  if (!RefuseTyped(event->commitString())) {
    TzqCustomEdit::inputMethodEvent(event);
    return;
  }
  QInputMethodEvent without_commit(event->preeditString(), event->attributes());
  TzqCustomEdit::inputMethodEvent(&without_commit);
}

// The middle button pastes the selection where the system keeps one.
void TzqNumEdit::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection() &&
      rect().contains(event->position().toPoint())) {
    Paste(QClipboard::Selection);
    event->accept();
    return;
  }
  TzqCustomEdit::mouseReleaseEvent(event);
}

// The toolkit's own menu, with its paste item replaced by the numeric paste.
// The item is found by its text, as the toolkit names it in this language.
void TzqNumEdit::contextMenuEvent(QContextMenuEvent* event) {
  std::unique_ptr<QMenu> menu(createStandardContextMenu());
  const QString paste_text = QLineEdit::tr("&Paste");
  for (QAction* action : menu->actions()) {
    if (action->text().section(u'\t', 0, 0) != paste_text) continue;
    auto* paste = new QAction(action->text(), menu.get());
    paste->setObjectName(QStringLiteral("edit-paste"));
    paste->setShortcut(action->shortcut());
    paste->setEnabled(action->isEnabled());
    connect(paste, &QAction::triggered, this, [this] { Paste(); });
    menu->insertAction(action, paste);
    menu->removeAction(action);
    break;
  }
  menu->exec(event->globalPos());
}

void TzqNumEdit::dropEvent(QDropEvent* event) {
  if (!event->mimeData()->hasText() || isReadOnly()) {
    event->ignore();
    return;
  }
  PasteText(event->mimeData()->text());
  event->acceptProposedAction();
}

TzqIntEdit::TzqIntEdit(QWidget* owner) : TzqNumEdit(owner) { WriteTextFromValue(); }

bool TzqIntEdit::CharAllowed(QChar character) const {
  const char16_t c = character.unicode();
  return c < 0x20 || c == u'+' || c == u'-' || (c >= u'0' && c <= u'9');
}

// A negative value shorter than the digit count gets its zeros after the
// sign, so that the text still reads back as the value.
void TzqIntEdit::TextFromValue() {
  const std::int64_t value = Value();
  QString digits = QString::number(value < 0 ? -value : value);
  const QString sign = value < 0 ? QStringLiteral("-") : QString();
  const qsizetype width = std::max<qsizetype>(0, Digits() - sign.size());
  if (digits.size() < width) digits = QString(width - digits.size(), u'0') + digits;
  ReplaceText(sign + digits);
}

void TzqIntEdit::TextEdited() {
  SetValue(IntegerFromText(text()));
  TzqNumEdit::TextEdited();
}

}  // namespace orvane::ui
