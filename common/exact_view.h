// Views of any depth: the centre and the scale as decimal texts of any length, the arithmetic of
// the viewer's zooms on them in arbitrary precision (GNU MPFR), and the test that tells where
// the filler's doubles and extended reals draw a view and where the deep fill must.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>

namespace quob::common {

// A view: its centre and its scale (the height of the picture on the plane) as finite decimal
// texts, every digit kept.
struct ExactView {
    std::string re, im, scale;
    bool operator==(const ExactView &) const = default;
};
// For test failures: "RE, IM, SCALE".
inline void PrintTo(const ExactView &v, std::ostream *out) {
    *out << v.re << ", " << v.im << ", " << v.scale;
}

// True for the text of a finite decimal number, as the view's texts must be.
bool IsDecimal(const std::string &text);
// Texts that read back as the values, with enough digits to tell extended reals apart.
ExactView ViewOf(long double re, long double im, long double scale);
// True when a view's texts hold digits that extended reals would lose: more than the 21
// significant digits with which ViewOf writes them.
bool BeyondExtended(const ExactView &view);
// The values nearest to the view's texts.
long double ExtendedOf(const std::string &decimal);
double DoubleOf(const std::string &decimal);

// True when the filler's picture of the view at that height would not be the view's: extended
// precision does not tell the pixels beside the centre from it (the pixel routine's step is the
// scale divided in extended precision and kept as a double), or the doubles that the filler
// takes miss the centre by more than a sixteenth of that step. Such views are drawn deep.
bool NeedsDeep(const ExactView &view, int32_t height);

// The view with its scale times factor, the centre as it is.
ExactView Scaled(const ExactView &view, long double factor);
// The view whose centre lies dx pixels right and dy pixels below the centre of a picture of
// that height, with its scale times factor: the hot spot's zoom at any depth.
ExactView Moved(const ExactView &view, int64_t dx, int64_t dy, int32_t height, long double factor);
// numerator / denominator for a positive decimal denominator, as a text with the digits that the
// denominator's magnitude needs (the zoom factor of a scale and back); "" for a denominator that
// is no positive decimal number.
std::string Quotient(long double numerator, const std::string &denominator);
// The text of a decimal number rounded to the given significant digits, in the shortest form.
std::string Rounded(const std::string &decimal, int digits);

}  // namespace quob::common
