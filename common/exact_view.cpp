#include "exact_view.h"

#include <mpfr.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "list_records.h"

namespace quob::common {

namespace {

// An MPFR number that frees itself.
class TReal {
  public:
    explicit TReal(long bits) { mpfr_init2(v_, std::max<long>(bits, MPFR_PREC_MIN)); }
    ~TReal() { mpfr_clear(v_); }
    TReal(const TReal &) = delete;
    TReal &operator=(const TReal &) = delete;
    mpfr_ptr operator*() { return v_; }
    mpfr_srcptr operator*() const { return v_; }

  private:
    mpfr_t v_;
};

// Reads a text known to be well formed.
void Read(TReal &v, const std::string &text) { mpfr_set_str(*v, text.c_str(), 10, MPFR_RNDN); }

// v times a factor of extended precision, exactly, then rounded to v's precision.
void MultiplyBy(TReal &v, long double factor) {
    TReal f(64);
    mpfr_set_ld(*f, factor, MPFR_RNDN);
    mpfr_mul(*v, *v, *f, MPFR_RNDN);
}

// The binary exponent of a number, a very small one for 0.
long Exponent(const TReal &v) { return mpfr_zero_p(*v) ? -(1L << 40) : mpfr_get_exp(*v); }

// The significant digits that tell numbers of so many bits apart, and a digit more.
int DigitsFor(long bits) { return static_cast<int>(std::ceil(bits * 0.30102999566398120)) + 1; }

// The shortest text of v with at most `digits` significant digits: plain where it is short,
// else with an exponent; trailing zeros go.
std::string Text(const TReal &v, int digits) {
    if (mpfr_zero_p(*v)) return "0";
    std::vector<char> buffer(static_cast<std::size_t>(digits) + 32);
    mpfr_snprintf(buffer.data(), buffer.size(), "%.*Re", digits - 1, *v);
    std::string text = buffer.data();
    const std::size_t e = text.find('e');
    std::string mantissa = text.substr(0, e);
    const int exponent = std::atoi(text.c_str() + e + 1);
    if (mantissa.find('.') != std::string::npos) {
        while (mantissa.back() == '0') mantissa.pop_back();
        if (mantissa.back() == '.') mantissa.pop_back();
    }
    if (exponent < -4 || exponent > 20) return mantissa + "e" + std::to_string(exponent);
    // Plain: 0.000123 rather than 1.23e-4, 1250 rather than 1.25e3.
    const bool negative = mantissa[0] == '-';
    std::string figures;
    for (char c : mantissa)
        if (c >= '0' && c <= '9') figures += c;
    std::string plain;
    if (exponent < 0) {
        plain = "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + figures;
    } else {
        const auto whole = static_cast<std::size_t>(exponent) + 1;
        if (figures.size() < whole) figures.append(whole - figures.size(), '0');
        plain = figures.substr(0, whole);
        if (figures.size() > whole) plain += "." + figures.substr(whole);
    }
    return negative ? "-" + plain : plain;
}

// The precision that holds a centre of that magnitude to far below a step of that size.
long CentreBits(const TReal &centreRe, const TReal &centreIm, const TReal &step) {
    const long magnitude = std::max({Exponent(centreRe), Exponent(centreIm), 1L});
    return std::max(64L, magnitude - Exponent(step) + 64);
}

constexpr long kScaleBits = 96;
constexpr int kScaleDigits = 19;

// The significant digits of a decimal text: its digits from the first that is not 0 to the last
// that is not 0, before any exponent.
int SignificantDigits(const std::string &text) {
    int digits = 0, zeros = 0;
    bool leading = true;
    for (const char c : text) {
        if (c == 'e' || c == 'E') break;
        if (c < '0' || c > '9') continue;
        if (c == '0' && leading) continue;
        leading = false;
        if (c == '0') {
            ++zeros;  // counted once a later digit shows they are not trailing
        } else {
            digits += zeros + 1;
            zeros = 0;
        }
    }
    return digits;
}

}  // namespace

bool BeyondExtended(const ExactView &view) {
    for (const std::string *text : {&view.re, &view.im, &view.scale})
        if (SignificantDigits(*text) > 21) return true;
    return false;
}

bool IsDecimal(const std::string &text) {
    // MPFR alone would also take "inf", "nan" and hexadecimal.
    if (!IsDecimalText(text)) return false;
    TReal v(64);
    Read(v, text);
    return mpfr_number_p(*v) != 0;
}

ExactView ViewOf(long double re, long double im, long double scale) {
    auto text = [](long double v) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.21Lg", v);
        return std::string(buffer);
    };
    return {text(re), text(im), text(scale)};
}

long double ExtendedOf(const std::string &decimal) {
    return std::strtold(decimal.c_str(), nullptr);
}

double DoubleOf(const std::string &decimal) { return std::strtod(decimal.c_str(), nullptr); }

bool NeedsDeep(const ExactView &view, int32_t height) {
    const double re = DoubleOf(view.re), im = DoubleOf(view.im);
    const long double step =
        static_cast<double>(static_cast<long double>(DoubleOf(view.scale)) / height);
    const long double x = re, y = im;
    if (x + step == x || x - step == x || y + step == y || y - step == y) return true;
    // The doubles' distance from the centre's texts, against a sixteenth of the step.
    for (const auto &[text, value] : {std::pair{&view.re, re}, {&view.im, im}}) {
        TReal exact(std::max(64L, static_cast<long>(text->size()) * 4)), miss(64);
        Read(exact, *text);
        mpfr_sub_d(*miss, *exact, value, MPFR_RNDN);
        mpfr_abs(*miss, *miss, MPFR_RNDN);
        mpfr_mul_d(*miss, *miss, 16.0, MPFR_RNDN);
        if (mpfr_cmp_ld(*miss, step) > 0) return true;
    }
    return false;
}

ExactView Scaled(const ExactView &view, long double factor) {
    TReal scale(kScaleBits);
    Read(scale, view.scale);
    MultiplyBy(scale, factor);
    return {view.re, view.im, Text(scale, kScaleDigits)};
}

ExactView Moved(const ExactView &view, int64_t dx, int64_t dy, int32_t height, long double factor) {
    TReal scale(kScaleBits), step(kScaleBits), probeRe(64), probeIm(64);
    Read(scale, view.scale);
    mpfr_div_si(*step, *scale, height, MPFR_RNDN);
    Read(probeRe, view.re);
    Read(probeIm, view.im);
    const long bits = CentreBits(probeRe, probeIm, step) + 64;
    TReal re(bits), im(bits), offset(bits), fine(bits);
    Read(re, view.re);
    Read(im, view.im);
    Read(fine, view.scale);  // the step again, to the centre's precision
    mpfr_div_si(*fine, *fine, height, MPFR_RNDN);
    mpfr_mul_si(*offset, *fine, static_cast<long>(dx), MPFR_RNDN);
    mpfr_add(*re, *re, *offset, MPFR_RNDN);
    mpfr_mul_si(*offset, *fine, static_cast<long>(dy), MPFR_RNDN);
    mpfr_sub(*im, *im, *offset, MPFR_RNDN);  // rows grow downwards
    MultiplyBy(scale, factor);
    // The new centre keeps the digits that tell it apart from its neighbours a new pixel away.
    TReal newStep(kScaleBits);
    mpfr_div_si(*newStep, *scale, height, MPFR_RNDN);
    const int digits = DigitsFor(CentreBits(re, im, newStep));
    return {Text(re, digits), Text(im, digits), Text(scale, kScaleDigits)};
}

std::string Quotient(long double numerator, const std::string &denominator) {
    if (!IsDecimal(denominator)) return "";
    TReal d(kScaleBits), q(kScaleBits);
    Read(d, denominator);
    if (mpfr_sgn(*d) <= 0) return "";
    mpfr_set_ld(*q, numerator, MPFR_RNDN);
    mpfr_div(*q, *q, *d, MPFR_RNDN);
    return Text(q, kScaleDigits);
}

std::string Rounded(const std::string &decimal, int digits) {
    TReal v(static_cast<long>(std::ceil((digits + 2) * 3.3219280948873623)));
    Read(v, decimal);
    return Text(v, digits);
}

}  // namespace quob::common
