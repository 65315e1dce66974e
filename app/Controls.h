#pragma once

#include <QCheckBox>
#include <QColor>
#include <QObject>
#include <QPalette>
#include <QRect>
#include <QString>
#include <QValidator>
#include <cstdint>

#include "gallery/GalleryInterfaces.h"

class QEvent;

namespace fotolane::app {

// Window layout comes in twips; at 96 dots per inch 15 twips make one pixel,
// and Qt's device-independent pixels are those pixels (Qt scales them on
// screens of higher density).
int TwipsToPixels(int twips);
QRect TwipsRect(int left, int top, int width, int height);

// Colours as the window's rules give them: 0x00BBGGRR for a plain colour;
// with the high bit set, the low byte picks a system colour (15 the face of
// buttons, 5 the background of text boxes), taken from `palette`. Any other
// system colour is the fault "Invalid property value".
inline constexpr std::uint32_t kWhite = 0xFFFFFFu;
inline constexpr std::uint32_t kButtonFace = 0x8000000Fu;
QColor ColorFromValue(std::uint32_t value, const QPalette& palette);

using gallery::CheckValue;

// A check box's value: 0 unchecked, 1 checked, 2 grey, as numbers are stored.
// Qt numbers its states otherwise (PartiallyChecked is 1), hence the explicit
// mapping; any other number is the fault "Invalid property value".
CheckValue CheckValueOfNumber(std::int32_t number);
Qt::CheckState CheckStateOfValue(CheckValue value);
CheckValue ValueOfCheckState(Qt::CheckState state);

// A check box that holds the value 0, 1 or 2. A click turns a checked box
// unchecked and any other checked; grey is only ever set by the program.
class ValueCheckBox final : public QCheckBox {
  public:
    explicit ValueCheckBox(const QString& caption, QWidget* parent);
    CheckValue Value() const;
    void SetValue(CheckValue value);

  protected:
    void nextCheckState() override;
};

// Whether a key press may reach a digits-only box. A press that types a
// character passes only when the character is a digit: letters, signs,
// blanks and control characters (Backspace, Enter, Escape, Ctrl with a
// letter) are discarded. Keys that type nothing pass and edit the box as
// usual: Delete, the arrows, Home, End, and Tab, which moves the focus.
bool DigitFilterPasses(int key, Qt::KeyboardModifiers modifiers, const QString& text);

// Applies DigitFilterPasses to the key presses of the widgets it is
// installed on. Text that the program puts into a box is not filtered.
class DigitFilter final : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// The rule of a digits-only box for what a user puts in other than by
// typing (pasting, the X selection): only the digits get in, and no more of
// them than leave `maximum` characters in the box, as if each had been typed
// (the later ones refused by the limit). Text that the program sets is not
// checked: the program never sets more than the box holds.
class DigitsWithinLimit final : public QValidator {
  public:
    DigitsWithinLimit(int maximum, QObject* parent) : QValidator(parent), maximum_(maximum) {}
    State validate(QString& input, int& position) const override;

  private:
    int maximum_;
};

// Whether a stored text is one that a digits-only box of `maximum`
// characters can hold as typed.
bool FitsDigitBox(const QString& text, int maximum);

}  // namespace fotolane::app
