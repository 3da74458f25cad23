#include "dlgcommon.h"

#include <locale.h>

#include <QScreen>
#include <QWidget>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length a UTF-8 sequence announces by its lead byte; 1 for bytes that lead nothing.
size_t SequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8) return 4;
    if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0) return 2;
    return 1;
}

// The C locale for the number conversions: QApplication sets the user's locale, whose decimal
// separator may not be a point.
locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    return c;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigit(char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

size_t Utf8CutLength(const char *text, size_t length, size_t limit) {
    if (length <= limit) return length;
    // Find the lead byte of the character that the cut falls into (at most 3 bytes back).
    size_t start = limit;
    while (start > 0 && limit - start < 3 && IsContinuation(text[start])) --start;
    const auto lead = static_cast<unsigned char>(text[start]);
    if (IsContinuation(lead)) return limit;  // stray bytes: no character to keep whole
    return start + SequenceLength(lead) > limit ? start : limit;
}

void StoreText(char *field, size_t size, const QByteArray &text) {
    const size_t length = Utf8CutLength(text.constData(), size_t(text.size()), size - 1);
    std::memcpy(field, text.constData(), length);
    std::memset(field + length, 0, size - length);
}

QByteArray FieldText(const char *field, size_t size) {
    const void *nul = std::memchr(field, 0, size);
    const size_t length =
        nul ? size_t(static_cast<const char *>(nul) - field) : Utf8CutLength(field, size, size - 1);
    return QByteArray(field, qsizetype(length));
}

int32_t SelectedIndex(const QListWidget *listBox) {
    const QList<QListWidgetItem *> selected = listBox->selectedItems();
    return selected.isEmpty() ? -1 : listBox->row(selected.constFirst());
}

QString FormatFixed(long double value, int decimals) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    char text[128];
    const locale_t previous = uselocale(CLocale());
    std::snprintf(text, sizeof text, std::fabs(value) >= 1e36L ? "%.*LE" : "%.*Lf", decimals,
                  value);
    uselocale(previous);
    return QString::fromLatin1(text);
}

EConvertError::EConvertError(const QString &message) : std::runtime_error(message.toStdString()) {}

long double ReadReal(const QString &text, const QString &field, long double largest) {
    const QByteArray bytes = text.toUtf8();
    const char *p = bytes.constData();
    const auto fail = [&] {
        return EConvertError(
            QString("%1: '%2' is not a valid floating point value").arg(field, text));
    };
    while (IsBlank(*p)) ++p;
    const char *const number = p;
    if (*p == '+' || *p == '-') ++p;
    int digits = 0;
    while (IsDigit(*p)) ++p, ++digits;
    if (*p == '.') {
        ++p;
        while (IsDigit(*p)) ++p, ++digits;
    }
    if (digits == 0) throw fail();  // also the empty text
    if (*p == 'E' || *p == 'e') {
        ++p;
        if (*p == '+' || *p == '-') ++p;
        if (!IsDigit(*p)) throw fail();
        while (IsDigit(*p)) ++p;
    }
    const char *const end = p;
    while (IsBlank(*p)) ++p;
    if (*p != '\0') throw fail();
    // The grammar above is a subset of strtold's, which then rounds correctly to extended.
    const std::string checked(number, end);
    const long double value = strtold_l(checked.c_str(), nullptr, CLocale());
    if (std::fabs(value) > largest) throw fail();  // also beyond the extended range: infinite
    return value;
}

int32_t ReadInteger(const QString &text) {
    const QByteArray bytes = text.toUtf8();
    const char *p = bytes.constData();
    const auto fail = [&text]() {
        return EConvertError(QString("'%1' is not a valid integer value").arg(text));
    };
    while (IsBlank(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    const bool hex = *p == '$';
    if (hex) ++p;
    const int base = hex ? 16 : 10;
    int64_t magnitude = 0;
    int digits = 0;
    for (int digit; (digit = HexDigit(*p)) >= 0 && digit < base; ++p, ++digits) {
        magnitude = magnitude * base + digit;
        if (magnitude > int64_t(INT32_MAX) + 1) throw fail();
    }
    if (digits == 0 || *p != '\0') throw fail();
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX) throw fail();
    return static_cast<int32_t>(value);
}

void CenterOnScreen(QWidget *form) {
    const QScreen *screen = form->screen();
    if (!screen) return;
    const QRect available = screen->availableGeometry();
    form->move(available.center() - QRect(QPoint(), form->frameGeometry().size()).center());
}
