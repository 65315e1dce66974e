#include "app/Controls.h"

#include <algorithm>

#include <QEvent>
#include <QKeyEvent>
#include <cmath>

#include "platform/core/Fault.h"

namespace fotolane::app {
namespace {

Fault InvalidPropertyValue() {
    return Fault("Invalid property value");
}

}  // namespace

int TwipsToPixels(int twips) {
    return static_cast<int>(std::lround(twips / 15.0));
}

QRect TwipsRect(int left, int top, int width, int height) {
    return QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
                 TwipsToPixels(height));
}

QColor ColorFromValue(std::uint32_t value, const QPalette& palette) {
    if ((value & 0x80000000u) == 0) {
        return QColor(static_cast<int>(value & 0xFFu), static_cast<int>((value >> 8) & 0xFFu),
                      static_cast<int>((value >> 16) & 0xFFu));
    }
    switch (value & 0xFFu) {
        case 5:
            return palette.color(QPalette::Base);
        case 15:
            return palette.color(QPalette::Button);
        default:
            throw InvalidPropertyValue();
    }
}

CheckValue CheckValueOfNumber(std::int32_t number) {
    switch (number) {
        case 0:
            return CheckValue::Unchecked;
        case 1:
            return CheckValue::Checked;
        case 2:
            return CheckValue::Grey;
        default:
            throw InvalidPropertyValue();
    }
}

Qt::CheckState CheckStateOfValue(CheckValue value) {
    switch (value) {
        case CheckValue::Checked:
            return Qt::Checked;
        case CheckValue::Grey:
            return Qt::PartiallyChecked;
        case CheckValue::Unchecked:
            break;
    }
    return Qt::Unchecked;
}

CheckValue ValueOfCheckState(Qt::CheckState state) {
    switch (state) {
        case Qt::Checked:
            return CheckValue::Checked;
        case Qt::PartiallyChecked:
            return CheckValue::Grey;
        case Qt::Unchecked:
            break;
    }
    return CheckValue::Unchecked;
}

ValueCheckBox::ValueCheckBox(const QString& caption, QWidget* parent)
    : QCheckBox(caption, parent) {}

CheckValue ValueCheckBox::Value() const {
    return ValueOfCheckState(checkState());
}

void ValueCheckBox::SetValue(CheckValue value) {
    setCheckState(CheckStateOfValue(value));
}

void ValueCheckBox::nextCheckState() {
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

bool DigitFilterPasses(int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    switch (key) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Delete:
            return true;
        case Qt::Key_Backspace:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            return false;
        default:
            break;
    }
    // Ctrl with a letter types a control character (Ctrl+V is code 22),
    // whatever text the platform attaches to the event.
    const bool control =
        modifiers.testFlag(Qt::ControlModifier) && !modifiers.testFlag(Qt::AltModifier);
    if (control && key >= Qt::Key_A && key <= Qt::Key_Z) return false;
    if (text.isEmpty()) return true;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    }
    return true;
}

bool DigitFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (!DigitFilterPasses(key->key(), key->modifiers(), key->text())) return true;
    }
    return QObject::eventFilter(watched, event);
}

QValidator::State DigitsWithinLimit::validate(QString& input, int& position) const {
    // Non-digits go; the cursor stays after what was put in.
    QString digits;
    int cursor = 0;
    for (int i = 0; i < input.size(); ++i) {
        const QChar c = input.at(i);
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            digits += c;
            if (i < position) ++cursor;
        }
    }
    // Beyond the limit, the last digits put in are refused: those just
    // before the cursor.
    const auto excess = digits.size() - maximum_;
    if (excess > 0) {
        if (excess > cursor) return Invalid;
        digits.remove(cursor - excess, excess);
        cursor -= static_cast<int>(excess);
    }
    input = digits;
    position = cursor;
    return Acceptable;
}

bool FitsDigitBox(const QString& text, int maximum) {
    if (text.size() > maximum) return false;
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

}  // namespace fotolane::app
