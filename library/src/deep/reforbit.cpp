// Reference orbits in GNU MPFR.
#include "deep/reforbit.h"

#include <mpfr.h>

#include <cfloat>
#include <cmath>
#include <stdexcept>

#include "compile/scanner.h"

namespace quob {

namespace {

// One MPFR number that frees itself.
class TReal {
  public:
    explicit TReal(mpfr_prec_t precision) { mpfr_init2(v_, precision); }
    ~TReal() { mpfr_clear(v_); }
    TReal(const TReal &) = delete;
    TReal &operator=(const TReal &) = delete;
    mpfr_ptr operator*() { return v_; }
    mpfr_srcptr operator*() const { return v_; }

  private:
    mpfr_t v_;
};

// The largest base-2 exponent of a finite extended value (MPFR counts the significand in
// [1/2, 1)).
constexpr mpfr_exp_t kExtendedExponent = 16384;

bool Parse(mpfr_ptr into, const std::string &text) {
    return !text.empty() && mpfr_set_str(into, text.c_str(), 10, MPFR_RNDN) == 0 &&
           mpfr_number_p(into);
}

}  // namespace

struct TOrbitMaker::TView {
    explicit TView(mpfr_prec_t p) : precision(p), re(p), im(p) {}
    mpfr_prec_t precision;
    TReal re, im;
};

TOrbitMaker::TOrbitMaker(const TPerturbedForm &form, const std::string &centerRe,
                         const std::string &centerIm, const std::string &scale, int32_t width,
                         int32_t height, int64_t iterations, int32_t quantum)
    : form_(form), iterations_(iterations) {
    TReal s(128), re(64), im(64);
    if (!Parse(*s, scale) || mpfr_sgn(*s) <= 0 || !Parse(*re, centerRe) || !Parse(*im, centerIm))
        throw std::invalid_argument("the view is no set of finite decimal numbers");
    // Where the scale is a double, the step is the filler's: divided in extended precision,
    // kept as a double.
    const double scaleDouble = mpfr_get_d(*s, MPFR_RNDN);
    if (scaleDouble >= DBL_MIN && scaleDouble <= DBL_MAX) {
        step_ = static_cast<double>(static_cast<long double>(scaleDouble) / height);
    } else {
        mpfr_div_ui(*s, *s, static_cast<unsigned long>(height), MPFR_RNDN);
        step_ = mpfr_get_ld(*s, MPFR_RNDN);
    }
    if (!(step_ >= LDBL_MIN) || !std::isfinite(step_))
        throw std::invalid_argument("the step between pixels is beyond extended precision");
    // Bits for the step at the largest co-ordinate of the picture, and 64 more for the
    // orbit's own rounding.
    int stepExponent = 0;
    std::frexp(step_, &stepExponent);
    mpfr_exp_t top = 1;
    for (mpfr_srcptr c : {static_cast<mpfr_srcptr>(*re), static_cast<mpfr_srcptr>(*im)})
        if (!mpfr_zero_p(c)) top = std::max(top, mpfr_get_exp(c));
    const long size = std::lround(std::log2(std::max(width, height) + 1.0)) + 1;
    const mpfr_prec_t least = std::max<mpfr_prec_t>(128, top + size - stepExponent + 64 + 32);
    const mpfr_prec_t q = std::max(quantum, 1);
    const mpfr_prec_t precision = (least + q - 1) / q * q;
    view_ = std::make_unique<TView>(precision);
    Parse(*view_->re, centerRe);
    Parse(*view_->im, centerIm);
}

TOrbitMaker::~TOrbitMaker() = default;

long TOrbitMaker::Precision() const { return static_cast<long>(view_->precision); }

long double TOrbitMaker::Magnitude() const {
    return std::max(std::fabs(mpfr_get_ld(*view_->re, MPFR_RNDN)),
                    std::fabs(mpfr_get_ld(*view_->im, MPFR_RNDN)));
}

long double TOrbitMaker::CenterRe() const { return mpfr_get_ld(*view_->re, MPFR_RNDN); }
long double TOrbitMaker::CenterIm() const { return mpfr_get_ld(*view_->im, MPFR_RNDN); }

std::unique_ptr<TOrbit> TOrbitMaker::Make(long double x, long double y,
                                          const std::atomic<bool> *abandon) const {
    const mpfr_prec_t precision = view_->precision;
    const std::vector<TNode> &nodes = form_.Nodes();
    const std::vector<TSlot> &slots = form_.Slots();
    const int32_t params = form_.ParamCount();
    const int32_t fedBack = form_.FedBack();
    auto orbit = std::make_unique<TOrbit>(x, y, form_.RecordSize());

    std::vector<std::unique_ptr<TReal>> values;
    for (std::size_t i = 0; i < nodes.size(); ++i)
        values.push_back(std::make_unique<TReal>(precision));
    std::vector<std::unique_ptr<TReal>> next;
    for (int32_t k = 0; k < fedBack; ++k) next.push_back(std::make_unique<TReal>(precision));
    TReal t(precision), u(precision);
    auto v = [&](int32_t node) { return **values[static_cast<std::size_t>(node)]; };

    // The point: the centre plus x steps right, minus y steps up.
    TReal re(precision), im(precision), offset(precision);
    mpfr_set_ld(*offset, x, MPFR_RNDN);
    mpfr_set_ld(*t, step_, MPFR_RNDN);
    mpfr_mul(*offset, *offset, *t, MPFR_RNDN);
    mpfr_add(*re, *view_->re, *offset, MPFR_RNDN);
    mpfr_set_ld(*offset, y, MPFR_RNDN);
    mpfr_mul(*offset, *offset, *t, MPFR_RNDN);
    mpfr_sub(*im, *view_->im, *offset, MPFR_RNDN);
    for (int32_t p = 0; p < params; ++p) {
        switch (form_.Start(p)) {
            case TStart::kRe:
                mpfr_set(v(p), *re, MPFR_RNDN);
                break;
            case TStart::kIm:
                mpfr_set(v(p), *im, MPFR_RNDN);
                break;
            case TStart::kZero:
                mpfr_set_zero(v(p), 1);
                break;
        }
    }
    for (std::size_t i = 0; i < nodes.size(); ++i)
        if (nodes[i].kind == TNode::kConst)
            mpfr_set_ld(v(static_cast<int32_t>(i)), nodes[i].value, MPFR_RNDN);

    const std::size_t recordSize = static_cast<std::size_t>(form_.RecordSize());
    const std::size_t slotCount = slots.size();
    const int64_t maxRecords =
        static_cast<int64_t>(kMaxOrbitBytes / (recordSize + slotCount * sizeof(double)));
    std::vector<uint8_t> &records = orbit->records_;
    for (int64_t i = 0;; ++i) {
        if (abandon && abandon->load(std::memory_order_relaxed)) return nullptr;
        // The body's values at the reference point.
        bool defined = true;  // no NaN, no infinity
        bool inRange = true;  // every value within the range of extended precision
        for (std::size_t n = static_cast<std::size_t>(params); n < nodes.size(); ++n) {
            const TNode &node = nodes[n];
            if (node.kind != TNode::kKeyword) continue;
            mpfr_ptr r = v(static_cast<int32_t>(n));
            mpfr_srcptr a = v(node.a);
            mpfr_srcptr b = node.b >= 0 ? v(node.b) : nullptr;
            switch (node.keyword) {
                case kfAdd:
                    mpfr_add(r, b, a, MPFR_RNDN);
                    break;
                case kfSub:
                    mpfr_sub(r, a, b, MPFR_RNDN);
                    break;
                case kfMul:
                    mpfr_mul(r, b, a, MPFR_RNDN);
                    break;
                case kfDiv:
                    mpfr_div(r, a, b, MPFR_RNDN);
                    break;
                case kfRem:
                    mpfr_fmod(r, a, b, MPFR_RNDN);
                    break;
                case kfNeg:
                    mpfr_neg(r, a, MPFR_RNDN);
                    break;
                case kfAbs:
                    mpfr_abs(r, a, MPFR_RNDN);
                    break;
                case kfSqrt:
                    mpfr_sqrt(r, a, MPFR_RNDN);
                    break;
                case kfSqr:
                    mpfr_sqr(r, a, MPFR_RNDN);
                    break;
                case kfSin:
                    mpfr_sin(r, a, MPFR_RNDN);
                    break;
                case kfCos:
                    mpfr_cos(r, a, MPFR_RNDN);
                    break;
                case kfTan:
                    mpfr_tan(r, a, MPFR_RNDN);
                    break;
                case kfExp:
                    mpfr_exp(r, a, MPFR_RNDN);
                    break;
                case kf2Px:
                    mpfr_exp2(r, a, MPFR_RNDN);
                    mpfr_sub_ui(r, r, 1, MPFR_RNDN);
                    break;
                case kfInt:
                    mpfr_rint(r, a, MPFR_RNDN);
                    break;
                case kfLog2:  // the exponent of a significand in [1, 2)
                    if (mpfr_regular_p(a))
                        mpfr_set_si(r, static_cast<long>(mpfr_get_exp(a)) - 1, MPFR_RNDN);
                    else
                        mpfr_set_inf(r, -1);
                    break;
                case kfPatan:
                    mpfr_atan2(r, b, a, MPFR_RNDN);
                    break;
                case kfYxLog2X:
                    mpfr_log2(*t, a, MPFR_RNDN);
                    mpfr_mul(r, b, *t, MPFR_RNDN);
                    break;
                case kfScale:
                    mpfr_mul_2si(r, a, mpfr_get_si(b, MPFR_RNDZ), MPFR_RNDN);
                    break;
                default:
                    break;
            }
            if (!mpfr_number_p(r))
                defined = false;
            else if (!mpfr_zero_p(r) && mpfr_get_exp(r) > kExtendedExponent)
                inRange = false;
        }
        // The record.
        if (i >= maxRecords) {
            orbit->end_ = TOrbit::TEnd::kMemory;
            break;
        }
        records.resize(records.size() + recordSize);
        uint8_t *record = records.data() + static_cast<std::size_t>(i) * recordSize;
        bool finite = true;
        for (std::size_t s = 0; s < slots.size(); ++s) {
            const TSlot &slot = slots[s];
            long double value = 0;
            switch (slot.kind) {
                case TSlot::kRef:
                    value = mpfr_get_ld(v(slot.node), MPFR_RNDN);
                    break;
                case TSlot::kSign:
                    value = mpfr_sgn(v(slot.node)) >= 0 ? 1 : -1;
                    break;
                case TSlot::kSin:
                    mpfr_sin(*u, v(slot.node), MPFR_RNDN);
                    value = mpfr_get_ld(*u, MPFR_RNDN);
                    break;
                case TSlot::kCos:
                    mpfr_cos(*u, v(slot.node), MPFR_RNDN);
                    value = mpfr_get_ld(*u, MPFR_RNDN);
                    break;
                case TSlot::kGlitch:
                    value = kGlitchRatio * (std::fabs(mpfr_get_ld(v(0), MPFR_RNDN)) +
                                            std::fabs(mpfr_get_ld(v(1), MPFR_RNDN)));
                    break;
            }
            finite = finite && std::isfinite(value);
            __builtin_memcpy(record + kRealWidth * s, &value, kRealWidth);
        }
        const bool stateFinite = std::isfinite(orbit->Value(i, form_.IterateSlot(0))) &&
                                 std::isfinite(orbit->Value(i, form_.IterateSlot(1))) &&
                                 std::isfinite(orbit->Value(i, form_.GlitchSlot()));
        if (!stateFinite) {
            // Not even the state after the last iteration is usable.
            records.resize(records.size() - recordSize);
            orbit->length_ = std::max<int64_t>(i - 1, 0);
            orbit->end_ = TOrbit::TEnd::kOverflow;
            break;
        }
        orbit->length_ = i;
        if (i == iterations_) break;
        if (!defined || !inRange || !finite) {
            orbit->end_ = defined ? TOrbit::TEnd::kOverflow : TOrbit::TEnd::kFault;
            break;
        }
        // The fed-back results become the parameters of the next iteration.
        for (int32_t k = 0; k < fedBack; ++k) mpfr_set(**next[k], v(form_.Result(k)), MPFR_RNDN);
        for (int32_t k = 0; k < fedBack; ++k) mpfr_swap(v(k), **next[k]);
    }
    records.shrink_to_fit();

    // The same values as doubles while they fit: their rounding is common to every sample, and
    // the differences, computed in extended, keep their own precision.
    auto fits = [](long double value) {
        return value == 0 ||
               (std::fabs(value) >= DBL_MIN && std::isfinite(static_cast<double>(value)));
    };
    const auto stored = static_cast<int64_t>(records.size() / recordSize);
    std::vector<double> &narrow = orbit->narrow_;
    for (int64_t i = 0; i < stored; ++i) {
        bool all = true;
        for (std::size_t k = 0; k < slotCount && all; ++k)
            all = fits(orbit->Value(i, static_cast<int32_t>(k)));
        if (!all) break;
        for (std::size_t k = 0; k < slotCount; ++k)
            narrow.push_back(static_cast<double>(orbit->Value(i, static_cast<int32_t>(k))));
        orbit->narrowLength_ = i + 1;
    }
    narrow.shrink_to_fit();
    return orbit;
}

}  // namespace quob
