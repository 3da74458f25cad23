// What the dialogs share: UTF-8 texts in fixed-size fields, the fixed-point display of numbers,
// the readers of real and whole-number edits, list box selection and placing on the screen.
#ifndef SPIRALIS_DLGCOMMON_H
#define SPIRALIS_DLGCOMMON_H

#include <QByteArray>
#include <QListWidget>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>

// The length of the longest start of text (length bytes) that has at most limit bytes and does
// not end inside a UTF-8 character. Bytes that are not UTF-8 are cut like single characters.
size_t Utf8CutLength(const char *text, size_t length, size_t limit);

// Stores text into a field of size bytes: at most size - 1 bytes, cut on a character boundary,
// then a NUL; the rest of the field is zero-filled.
void StoreText(char *field, size_t size, const QByteArray &text);

// The text of a field: its bytes up to the first NUL, or, in a field without NUL, its first
// size - 1 bytes cut on a character boundary, so that it fits the field again with its NUL.
QByteArray FieldText(const char *field, size_t size);

// The index of the selected line of a list box, -1 when no line is selected.
int32_t SelectedIndex(const QListWidget *listBox);

// Places a form in the centre of its screen.
void CenterOnScreen(QWidget *form);

// Fixed-point notation with the given number of decimals, in the C locale; magnitudes of 1e36
// and more in exponent notation with as many decimals.
QString FormatFixed(long double value, int decimals);

// The conversion errors of the dialogs' edits, which name the text that does not read.
class EConvertError : public std::runtime_error {
  public:
    explicit EConvertError(const QString &message);
};

// A decimal real for the field named field: optional blanks, optional sign, digits with an
// optional decimal point and fraction, optional exponent ("E" or "e", optional sign, digits),
// optional trailing blanks. Throws EConvertError ("<field>: '%s' is not a valid floating point
// value") for any other text, the empty one included, and for a magnitude above largest, the
// greatest finite value of the field's type.
long double ReadReal(const QString &text, const QString &field,
                     long double largest = std::numeric_limits<long double>::max());

// A whole number: optional leading blanks, optional sign, then decimal digits or "$" and
// hexadecimal digits; nothing may follow, and the value must fit a signed 32-bit integer.
// Throws EConvertError ("'%s' is not a valid integer value") otherwise.
int32_t ReadInteger(const QString &text);

#endif  // SPIRALIS_DLGCOMMON_H
