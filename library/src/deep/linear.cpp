// The linear approximation of a perturbed form: every keyword's linear part with the bound of
// what it leaves out, and the table of merged steps along an orbit.
//
// For a value V of the body with the difference dV at the parameters' differences u (norm r),
// the derivation carries its linear part g·u and a bound q with |dV - g·u| <= q·r², valid while r
// stays below a limit that the keywords set. With l = |g| (the sum of magnitudes), the keywords'
// rules are, A and B the operands' reference values:
//   "+", "-", "neg"     q = qa + qb
//   "*"                 q = |B|·qa + |A|·qb + la·lb
//   "sqr"               q = 2|A|·qa + la²
//   "/"                 the product with 1/B, q(1/B) = qb/B² + 2·lb²/|B|³, for la·r <= |B|/2
//   "abs"               q = qa, for la·r <= |A| (the operand keeps its sign)
//   "sqrt"              q = qa/(2√A) + la²/(8·(A/2)^(3/2)), for la·r <= A/2
//   "sin", "cos"        q = |cos A|·qa + la²/2, q = |sin A|·qa + la²/2
//   "tan"               q = qa/cos²A + 64·la²/(27·|cos A|³), for la·r <= |cos A|/4
//   "exp", "2px"        q = e^A·(qa + la²·e/2), q = ln2·2^A·(qa + ln2·la²), for la·r <= 1
//   "scale"             q = 2^n·qa, for the exponent n that is the same for every sample
// The bounds leave out the products of the neglected terms with each other, which are smaller by
// the tolerance; the radius takes twice the bound for them.
#include "deep/linear.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>

#include "compile/scanner.h"

namespace quob {

namespace {

bool HasBound(int8_t keyword) {
    switch (keyword) {
        case kfAdd:
        case kfSub:
        case kfNeg:
        case kfMul:
        case kfSqr:
        case kfDiv:
        case kfAbs:
        case kfSqrt:
        case kfSin:
        case kfCos:
        case kfTan:
        case kfExp:
        case kf2Px:
        case kfScale:
            return true;
        default:
            return false;
    }
}

// The value of a keyword on reference values, for those that only act on fixed values too.
long double Apply(int8_t keyword, long double a, long double b) {
    switch (keyword) {
        case kfAdd:
            return b + a;
        case kfSub:
            return a - b;
        case kfNeg:
            return -a;
        case kfMul:
            return b * a;
        case kfDiv:
            return a / b;
        case kfRem:
            return std::fmod(a, b);
        case kfAbs:
            return std::fabs(a);
        case kfSqrt:
            return std::sqrt(a);
        case kfSqr:
            return a * a;
        case kfSin:
            return std::sin(a);
        case kfCos:
            return std::cos(a);
        case kfTan:
            return std::tan(a);
        case kfExp:
            return std::exp(a);
        case kf2Px:
            return std::exp2(a) - 1;
        case kfInt:
            return std::nearbyint(a);
        case kfLog2:
            return a != 0 && std::isfinite(a) ? static_cast<long double>(std::ilogb(a))
                                              : -HUGE_VALL;
        case kfPatan:
            return std::atan2(b, a);
        case kfYxLog2X:
            return b * std::log2(a);
        case kfScale:
            return std::ldexp(a, static_cast<int>(std::trunc(b)));
        default:
            return 0;
    }
}

// Values beyond this, and trigonometric operands beyond 2^62, may fault on the full values.
constexpr long double kLargest = 0x1p16000L;
constexpr long double kLargestAngle = 0x1p62L;

// One iteration's derivation at a record.
class TStepDerivation {
  public:
    TStepDerivation(const TPerturbedForm &form, long double pointRe, long double pointIm)
        : form_(form),
          params_(form.ParamCount()),
          values_(form.Nodes().size()),
          q_(values_.size()),
          l_(values_.size()),
          g_(values_.size() * static_cast<std::size_t>(params_)),
          pointRe_(pointRe),
          pointIm_(pointIm) {}

    // The map [A | B] of the iteration at record k into `map` (2 x params), its radius as the
    // result (negative where the iteration may not be skipped), and whether the full values of a
    // sample within that radius of the record are safe from faults.
    long double Derive(const TOrbit &orbit, int64_t k, long double *map, bool &safe);

  private:
    long double *G(int32_t node) {
        return &g_[static_cast<std::size_t>(node) * static_cast<std::size_t>(params_)];
    }

    const TPerturbedForm &form_;
    const int32_t params_;
    std::vector<long double> values_, q_, l_, g_;
    const long double pointRe_, pointIm_;
};

long double TStepDerivation::Derive(const TOrbit &orbit, int64_t k, long double *map, bool &safe) {
    const std::vector<TNode> &nodes = form_.Nodes();
    long double limit = LDBL_MAX;  // of r, from the folds and poles
    safe = true;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const TNode &n = nodes[i];
        const auto self = static_cast<int32_t>(i);
        long double *g = G(self);
        std::fill(g, g + params_, 0.0L);
        long double &v = values_[i];
        long double &q = q_[i];
        q = 0;
        const int32_t slot = form_.Slot(TSlot::kRef, self);
        if (n.kind == TNode::kParam) {
            const TStart start = form_.Start(n.param);
            v = slot >= 0              ? orbit.Value(k, slot)
                : start == TStart::kRe ? pointRe_
                : start == TStart::kIm ? pointIm_
                                       : 0.0L;
            if (!n.fixed) g[n.param] = 1;
        } else if (n.kind == TNode::kConst) {
            v = n.value;
        } else {
            const long double va = values_[static_cast<std::size_t>(n.a)];
            const long double vb = n.b >= 0 ? values_[static_cast<std::size_t>(n.b)] : 0.0L;
            v = slot >= 0 ? orbit.Value(k, slot) : Apply(n.keyword, va, vb);
            if (!n.fixed) {
                const long double *ga = G(n.a);
                const long double *gb = n.b >= 0 ? G(n.b) : nullptr;
                const long double qa = q_[static_cast<std::size_t>(n.a)];
                const long double qb = n.b >= 0 ? q_[static_cast<std::size_t>(n.b)] : 0.0L;
                const long double la = l_[static_cast<std::size_t>(n.a)];
                const long double lb = n.b >= 0 ? l_[static_cast<std::size_t>(n.b)] : 0.0L;
                auto linear = [&](long double ca, long double cb) {
                    for (int32_t p = 0; p < params_; ++p)
                        g[p] = ca * ga[p] + (gb ? cb * gb[p] : 0.0L);
                };
                auto atMost = [&](long double room, long double per) {
                    if (per > 0) limit = std::min(limit, room / per);
                };
                const int32_t sinSlot = form_.Slot(TSlot::kSin, n.a);
                const int32_t cosSlot = form_.Slot(TSlot::kCos, n.a);
                const long double sa = sinSlot >= 0 ? orbit.Value(k, sinSlot) : std::sin(va);
                const long double ca = cosSlot >= 0 ? orbit.Value(k, cosSlot) : std::cos(va);
                switch (n.keyword) {
                    case kfAdd:
                        linear(1, 1);
                        q = qa + qb;
                        break;
                    case kfSub:
                        linear(1, -1);
                        q = qa + qb;
                        break;
                    case kfNeg:
                        linear(-1, 0);
                        q = qa;
                        break;
                    case kfMul:
                        linear(vb, va);
                        q = std::fabs(vb) * qa + std::fabs(va) * qb + la * lb;
                        break;
                    case kfSqr:
                        linear(2 * va, 0);
                        q = 2 * std::fabs(va) * qa + la * la;
                        break;
                    case kfDiv: {
                        const long double w = 1 / vb;
                        linear(w, -va * w * w);
                        const long double qw = qb * w * w + 2 * lb * lb * std::fabs(w * w * w);
                        q = std::fabs(w) * qa + std::fabs(va) * qw + la * lb * w * w;
                        atMost(std::fabs(vb) / 2, lb);
                        break;
                    }
                    case kfAbs: {
                        const int32_t sign = form_.Slot(TSlot::kSign, n.a);
                        const long double s = sign >= 0 ? orbit.Value(k, sign) : va < 0 ? -1 : 1;
                        linear(s, 0);
                        q = qa;
                        atMost(std::fabs(va), la);
                        break;
                    }
                    case kfSqrt: {
                        const long double root = std::sqrt(va);
                        linear(1 / (2 * root), 0);
                        q = qa / (2 * root) + la * la / (8 * std::pow(va / 2, 1.5L));
                        atMost(va / 2, la);
                        break;
                    }
                    case kfSin:
                        linear(ca, 0);
                        q = std::fabs(ca) * qa + la * la / 2;
                        safe = safe && std::fabs(va) < kLargestAngle;
                        break;
                    case kfCos:
                        linear(-sa, 0);
                        q = std::fabs(sa) * qa + la * la / 2;
                        safe = safe && std::fabs(va) < kLargestAngle;
                        break;
                    case kfTan: {
                        const long double c = std::fabs(ca);
                        linear(1 / (ca * ca), 0);
                        q = qa / (c * c) + 64 * la * la / (27 * c * c * c);
                        atMost(c / 4, la);
                        safe = safe && std::fabs(va) < kLargestAngle;
                        break;
                    }
                    case kfExp:
                        linear(v, 0);
                        q = v * (qa + la * la * 1.3591409142295226L);
                        atMost(1, la);
                        break;
                    case kf2Px: {
                        const long double u = v + 1, ln2 = 0.6931471805599453094L;
                        linear(ln2 * u, 0);
                        q = ln2 * u * (qa + ln2 * la * la);
                        atMost(1, la);
                        break;
                    }
                    case kfScale: {
                        const long double f = std::ldexp(1.0L, static_cast<int>(std::trunc(vb)));
                        linear(f, 0);
                        q = f * qa;
                        break;
                    }
                    default:  // refused by Refusal
                        return -1;
                }
            }
        }
        long double l = 0;
        for (int32_t p = 0; p < params_; ++p) l += std::fabs(g[p]);
        l_[i] = l;
        if (n.live && !(std::fabs(v) < kLargest)) safe = false;
    }
    long double bound = 0;
    for (int32_t r = 0; r < 2; ++r) {
        const int32_t node = form_.Result(r);
        std::copy(G(node), G(node) + params_, map + static_cast<std::size_t>(r) * params_);
        bound = std::max(bound, 2 * q_[static_cast<std::size_t>(node)]);
    }
    // The smallest gain of A in the maximum norm: 1 / |A^-1|.
    const long double a = map[0], b = map[1], c = map[params_], d = map[params_ + 1];
    const long double det = std::fabs(a * d - b * c);
    const long double rows = std::max(std::fabs(d) + std::fabs(b), std::fabs(c) + std::fabs(a));
    const long double gain = rows > 0 ? det / rows : 0;
    long double radius = bound > 0 ? std::min(limit, kLinearTolerance * gain / bound) : limit;
    for (int32_t i = 0; i < 2 * params_; ++i)
        if (!std::isfinite(map[i])) radius = -1;
    if (!(radius >= 0)) radius = -1;
    return radius;
}

// The row sums' maximum of a 2 x n block of a map with `stride` values a row.
long double Norm(const long double *m, int32_t from, int32_t to, int32_t stride) {
    long double norm = 0;
    for (int32_t r = 0; r < 2; ++r) {
        long double sum = 0;
        for (int32_t c = from; c < to; ++c) sum += std::fabs(m[r * stride + c]);
        norm = std::max(norm, sum);
    }
    return norm;
}

}  // namespace

std::string TLinearSteps::Refusal(const TPerturbedForm &form) {
    if (form.FedBack() != 2)
        return "the formula feeds back " + std::to_string(form.FedBack()) +
               (form.FedBack() == 1 ? " value" : " values") +
               ", and skips carry the iterate's two alone";
    for (const TNode &n : form.Nodes())
        if (n.live && n.kind == TNode::kKeyword && !HasBound(n.keyword))
            return std::string("the linear approximation has no bound for \"") +
                   kFloatKeywords[n.keyword] + "\"";
    return {};
}

TLinearSteps::TLinearSteps(const TPerturbedForm &form, const TOrbit &orbit, long double pointRe,
                           long double pointIm, long double eMax, long double maxModule,
                           int32_t blockLength)
    : columns_(form.ParamCount()) {
    const int64_t steps = orbit.Length();
    rebases_ = orbit.Value(0, form.IterateSlot(0)) == 0 && orbit.Value(0, form.IterateSlot(1)) == 0;
    // Whether a sample may pass record k inside a skip: within the radius of its iteration there,
    // its full values cannot fault and its iterate is not glitched, nor can it escape where the
    // record is a pass end. A sample's record and its iterations run differ by whole passes (it
    // rebases at pass ends only), so its pass ends are the records of whole passes.
    std::vector<uint8_t> passable(static_cast<std::size_t>(steps) + 1, 0);
    const std::size_t stride = Stride();
    TStepDerivation derivation(form, pointRe, pointIm);
    std::vector<long double> pair(2 * stride);
    auto single = [&](int64_t k, long double *entry) {
        bool safe = false;
        entry[0] = derivation.Derive(orbit, k, entry + 1, safe);
        const long double z = std::fabs(orbit.Value(k, form.IterateSlot(0))) +
                              std::fabs(orbit.Value(k, form.IterateSlot(1)));
        const long double spread = 2 * entry[0];
        passable[static_cast<std::size_t>(k)] = safe && entry[0] >= 0 &&
                                                (k % blockLength != 0 || z + spread <= maxModule) &&
                                                z - spread >= orbit.Value(k, form.GlitchSlot());
    };
    // Two halves into one step, the first half's radius and map in `first`.
    auto merge = [&](const long double *first, const long double *second, int64_t middle,
                     long double *out) {
        const int32_t n = columns_;
        const auto at = [n](const long double *m, int32_t r, int32_t c) {
            return m[1 + r * n + c];
        };
        for (int32_t r = 0; r < 2; ++r)
            for (int32_t c = 0; c < n; ++c)
                out[1 + r * n + c] = at(second, r, 0) * at(first, 0, c) +
                                     at(second, r, 1) * at(first, 1, c) +
                                     (c >= 2 ? at(second, r, c) : 0.0L);
        long double radius = -1;
        if (first[0] >= 0 && second[0] >= 0 && passable[static_cast<std::size_t>(middle)]) {
            const long double gain = Norm(first + 1, 0, 2, n);
            const long double room = second[0] - Norm(first + 1, 2, n, n) * eMax;
            radius = std::min({first[0], second[0], gain > 0 ? room / gain : second[0]});
            if (!(radius >= 0) || !std::isfinite(out[1]) || !std::isfinite(out[2]) ||
                !std::isfinite(out[1 + n]) || !std::isfinite(out[2 + n]))
                radius = -1;
        }
        out[0] = radius;
    };

    // Level 1 from pairs of single steps, each level above from pairs of the one below.
    first_ = {0, 0};
    count_ = {0, steps / 2};
    maps_.resize(static_cast<std::size_t>(count_[1]) * stride);
    for (int64_t i = 0; i < count_[1]; ++i) {
        single(2 * i, pair.data());
        single(2 * i + 1, pair.data() + stride);
        merge(pair.data(), pair.data() + stride, 2 * i + 1,
              &maps_[static_cast<std::size_t>(i) * stride]);
    }
    for (int64_t k = 2 * count_[1]; k < steps; ++k) single(k, pair.data());
    for (std::size_t level = 2; count_.back() >= 2; ++level) {
        const int64_t count = count_.back() / 2;
        const std::size_t below = first_.back();
        first_.push_back(maps_.size() / stride);
        count_.push_back(count);
        maps_.resize(maps_.size() + static_cast<std::size_t>(count) * stride);
        for (int64_t i = 0; i < count; ++i) {
            const long double *a = &maps_[(below + 2 * static_cast<std::size_t>(i)) * stride];
            merge(a, a + stride, (2 * i + 1) << (level - 1),
                  &maps_[(first_.back() + static_cast<std::size_t>(i)) * stride]);
        }
    }
    maps_.shrink_to_fit();
}

int32_t TLinearSteps::Longest(int64_t m, long double r, int64_t most) const {
    // Steps of 2^level iterations start at the multiples of 2^level, and none is longer than
    // `most`: the first level to try is the smaller of the two bounds.
    auto top = static_cast<int32_t>(count_.size()) - 1;
    if (m != 0) top = std::min(top, std::countr_zero(static_cast<uint64_t>(m)));
    if (most < 2) return -1;
    top = std::min(top, static_cast<int32_t>(std::bit_width(static_cast<uint64_t>(most))) - 1);
    for (int32_t level = top; level >= 1; --level) {
        const int64_t i = m >> level;
        if (i < count_[static_cast<std::size_t>(level)] && r <= Radius(level, i)) return level;
    }
    return -1;
}

}  // namespace quob
