// Deep pictures: against the fill where extended precision still resolves the pixels, against a
// straightforward MPFR renderer beyond, detail at depths far beyond, and the formulas refused.
#include <mpfr.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <thread>

#include "compile/frontend.h"
#include "deep/deepfill.h"
#include "deep/linear.h"
#include "fill/filler.h"
#include "fill/ibuffer.h"
#include "pixel_agreement.h"
#include "platform/platform.h"
#include "render_support.h"

namespace quob::test {
namespace {

struct DeepView {
    const char *fractal;
    const char *re;
    const char *im;
    const char *scale;
    int32_t width = 48, height = 36;
    int32_t iterations = 20, blockLength = 20;
    float differential = 0.001f;
    TBandMode mode = TBandMode::kPlain;
    int32_t supersample = 1;
    int32_t recursionInit = 0;
    int32_t escapeTakesColor = 0;
    const char *color = kDefaultColor;
};

class Deep : public RenderTest {
  protected:
    // Installs the filler for the view; the ordinary fill sees the view's doubles.
    void Install(const DeepView &v) {
        QUOB_FillerParams p = DefaultParams();
        p.FractalFormula = v.fractal;
        p.ColorFormula = v.color;
        p.Width = v.width;
        p.Height = v.height;
        p.CenterRe = std::strtod(v.re, nullptr);
        p.CenterIm = std::strtod(v.im, nullptr);
        p.Scale = std::strtod(v.scale, nullptr);
        p.IterationsLimit = v.iterations;
        p.BlockLength = v.blockLength;
        p.Differential = v.differential;
        p.RecursionInit = v.recursionInit;
        p.EscapeTakesColor = v.escapeTakesColor;
        ASSERT_EQ(QUOB_CreateFiller(&p), 1);
        ASSERT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_WIDTH, QUOB_FP_HEIGHT}.flags), 1);
    }

    static std::vector<uint32_t> Picture(TBandProducer &producer) {
        std::vector<uint32_t> picture(static_cast<std::size_t>(producer.Width()) *
                                      producer.Height());
        for (int32_t top = 0; top < producer.Height(); top += producer.BandRows())
            EXPECT_TRUE(
                producer.Next(picture.data() + static_cast<std::size_t>(top) * producer.Width()));
        return picture;
    }

    // exact: the centre as the doubles that the ordinary fill takes, every digit written out.
    std::vector<uint32_t> DeepPicture(const DeepView &v, bool exact = false, int32_t bandRows = 7,
                                      int32_t quantum = 1, bool approximate = false) {
        auto text = [&](const char *t) {
            if (!exact) return std::string(t);
            char digits[128];
            std::snprintf(digits, sizeof digits, "%.80g", std::strtod(t, nullptr));
            return std::string(digits);
        };
        TDeepFormula formula;
        std::string refusal;
        EXPECT_TRUE(MakeDeepFormula(*FillerState().fractal.function->Body(), v.recursionInit,
                                    formula, refusal))
            << refusal;
        const TOrbitMaker maker(*formula.form, text(v.re), text(v.im), v.scale, v.width, v.height,
                                int64_t{v.iterations} * v.blockLength, quantum);
        TDeepFill fill(formula, maker, v.mode, v.supersample, bandRows, 3);
        fill.Approximate(approximate);
        precision_ = maker.Precision();
        std::vector<uint32_t> picture = Picture(fill);
        references_ = fill.References();
        leftGlitched_ = fill.LeftGlitched();
        skippedShare_ =
            static_cast<double>(fill.Skipped()) / std::max<int64_t>(fill.Iterations(), 1);
        return picture;
    }

    static double Agreement(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b) {
        std::size_t same = 0;
        for (std::size_t i = 0; i < a.size(); ++i) same += a[i] == b[i];
        return static_cast<double>(same) / static_cast<double>(a.size());
    }

    int32_t references_ = 0;
    int64_t leftGlitched_ = 0;
    double skippedShare_ = 0;
    long precision_ = 0;
};

const char *const kBurningShip = "tx ty x y = ty sqr tx sqr - x + ret tx ty * abs 2 * y + ret";
const char *const kCubic =
    "tx ty x y = ty sqr 3 * tx sqr - tx * x + ret ty sqr tx sqr 3 * - ty * y + ret";
// The previous iterate is fed back through "x" and "y", which every sample starts at its point.
const char *const kPhoenix =
    "tx ty x y = ty sqr tx sqr - 0.5667 + x -0.5 * + ret 2 tx ty * * y -0.5 * + ret tx ret ty ret";

class AgreesWithFill : public Deep, public ::testing::WithParamInterface<DeepView> {};

TEST_P(AgreesWithFill, OnNearlyEveryPixel) {
    const DeepView &v = GetParam();
    Install(v);
    std::vector<uint32_t> ordinary;
    {
        TBandFill fill(TBandMode::kPlain, 1, 7, 3);
        ordinary = Picture(fill);
    }
    const std::vector<uint32_t> deep = DeepPicture(v, true);
    std::set<uint32_t> colours(ordinary.begin(), ordinary.end());
    EXPECT_GT(colours.size(), 20u) << "the view shows no detail";
    EXPECT_GE(Agreement(deep, ordinary), 0.99) << references_ << " references";
}

// The iterations a sample ran; a distance estimate from the derivative, in grey.
const char *const kIterationColor = "x y iter = iter 7 * ret iter 3 * ret iter ret";
// ln(|dz/dc| / (|z| ln|z|)): the logarithm of the inverse of half the distance estimate.
const char *const kDistanceColor =
    "x y jxx jyx = x sqr y sqr + sqrt copy ln(2) swap YxLog2X * jxx sqr jyx sqr + sqrt / ln(2) "
    "swap YxLog2X 16 * copy ret copy ret ret";

INSTANTIATE_TEST_SUITE_P(
    Scale1e12, AgreesWithFill,
    ::testing::Values(DeepView{kDefaultFractal, "0", "1", "1e-12"},
                      // The reference escapes at its 192nd iteration: its records go on in
                      // extended precision where the doubles overflow, and the samples that
                      // outlive it take further references.
                      DeepView{kDefaultFractal, "-0.7437", "0.1319", "1e-4"},
                      DeepView{kBurningShip, "-0.5", "0.05051919238167632", "1e-12"},
                      DeepView{kCubic, "0.20407134609557348", "1.0203567304778676", "1e-12"},
                      DeepView{kPhoenix, "0.4", "0.7126861763604294", "1e-12", 48, 36, 20, 20, 0},
                      DeepView{kDefaultFractal, "-0.7437", "0.1319", "1e-4", 48, 36, 400, 1, 0,
                               TBandMode::kPlain, 1, 0, 0, kIterationColor},
                      DeepView{kDefaultFractal, "-0.7437", "0.1319", "1e-4", 48, 36, 400, 1, 0,
                               TBandMode::kPlain, 1, 0, 0, kDistanceColor},
                      DeepView{kBurningShip, "-0.5", "0.05051919238167632", "1e-3", 48, 36, 200, 1,
                               0, TBandMode::kPlain, 1, 0, 0, kDistanceColor}));

// The default formula's sample at pixel (px, py), straight from its definition in MPFR at the
// given precision, with the fill's semantics: a value beyond the range of extended precision
// inside a pass overflows.
uint32_t MpfrSample(const DeepView &v, long bits, int32_t px, int32_t py) {
    const TFillerState &f = FillerState();
    mpfr_t cre, cim, step, tx, ty, t, u;
    for (mpfr_ptr m : {cre, cim, step, tx, ty, t, u}) mpfr_init2(m, bits);
    mpfr_set_str(step, v.scale, 10, MPFR_RNDN);
    mpfr_div_ui(step, step, static_cast<unsigned long>(v.height), MPFR_RNDN);
    mpfr_set_str(cre, v.re, 10, MPFR_RNDN);
    mpfr_set_str(cim, v.im, 10, MPFR_RNDN);
    mpfr_mul_si(t, step, px - (v.width >> 1), MPFR_RNDN);
    mpfr_add(cre, cre, t, MPFR_RNDN);
    mpfr_mul_si(t, step, py - (v.height >> 1), MPFR_RNDN);
    mpfr_sub(cim, cim, t, MPFR_RNDN);
    mpfr_set(tx, cre, MPFR_RNDN);
    mpfr_set(ty, cim, MPFR_RNDN);
    uint32_t colour = 0;
    bool done = false;
    float previous = 0;
    for (int32_t pass = 0; pass < v.iterations && !done; ++pass) {
        for (int32_t i = 0; i < v.blockLength; ++i) {
            mpfr_sqr(t, tx, MPFR_RNDN);
            mpfr_sqr(u, ty, MPFR_RNDN);
            mpfr_sub(t, t, u, MPFR_RNDN);
            mpfr_mul(ty, tx, ty, MPFR_RNDN);
            mpfr_mul_2ui(ty, ty, 1, MPFR_RNDN);
            mpfr_add(ty, ty, cim, MPFR_RNDN);
            mpfr_add(tx, t, cre, MPFR_RNDN);
            if (mpfr_get_exp(tx) > 16384 || mpfr_get_exp(ty) > 16384) {
                colour = static_cast<uint32_t>(f.escapeColor);
                done = true;
                break;
            }
        }
        if (done) break;
        const long double m =
            std::fabs(mpfr_get_ld(tx, MPFR_RNDN)) + std::fabs(mpfr_get_ld(ty, MPFR_RNDN));
        if (m > f.maxModule || std::fabs(m - previous) < f.differential) break;
        previous = static_cast<float>(m);
    }
    if (!done)
        colour = ColorOf(*f.color.function, mpfr_get_ld(tx, MPFR_RNDN), mpfr_get_ld(ty, MPFR_RNDN));
    for (mpfr_ptr m : {cre, cim, step, tx, ty, t, u}) mpfr_clear(m);
    return colour;
}

class AgreesWithMpfr : public Deep, public ::testing::WithParamInterface<DeepView> {};

TEST_P(AgreesWithMpfr, OnNearlyEveryPixel) {
    const DeepView &v = GetParam();
    Install(v);
    const std::vector<uint32_t> deep = DeepPicture(v);
    std::vector<uint32_t> straight(deep.size());
    {
        const platform::TX87Control control(kPixelControlWord, platform::TX87Control::kControlWord);
        for (int32_t y = 0; y < v.height; ++y)
            for (int32_t x = 0; x < v.width; ++x)
                straight[static_cast<std::size_t>(y) * v.width + x] =
                    MpfrSample(v, precision_, x, y);
    }
    std::set<uint32_t> colours(straight.begin(), straight.end());
    EXPECT_GE(colours.size(), 8u) << "the view shows no detail";
    EXPECT_GE(Agreement(deep, straight), 0.99) << references_ << " references";
    const std::vector<uint32_t> approximated = DeepPicture(v, false, 7, 1, true);
    EXPECT_GT(skippedShare_, 0.2);
    EXPECT_GE(quob::common::ShareOfClosePixels(approximated, straight), 0.99)
        << "with the linear approximation";
}

INSTANTIATE_TEST_SUITE_P(
    Deep, AgreesWithMpfr,
    ::testing::Values(DeepView{kDefaultFractal, "0", "1", "1e-40", 24, 18, 50, 20, 0},
                      DeepView{kDefaultFractal, "0", "1", "1e-300", 24, 18, 50, 20, 0}));

// Around 0 + 1i, far beyond the doubles' and extended precision's range of steps: several
// colours, and pixels unlike their right-hand neighbour (a picture of blocks has one colour).
class ShowsDetail : public Deep, public ::testing::WithParamInterface<DeepView> {};

TEST_P(ShowsDetail, NotOneColourNotBlocks) {
    const DeepView &v = GetParam();
    Install(v);
    const std::vector<uint32_t> deep = DeepPicture(v);
    std::set<uint32_t> colours(deep.begin(), deep.end());
    std::size_t unlike = 0;
    for (std::size_t i = 0; i + 1 < deep.size(); ++i) unlike += deep[i] != deep[i + 1];
    EXPECT_GE(colours.size(), 8u);
    EXPECT_GE(static_cast<double>(unlike) / deep.size(), 0.1);
    EXPECT_EQ(leftGlitched_, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, ShowsDetail,
    ::testing::Values(DeepView{kDefaultFractal, "0", "1", "1e-100", 32, 24, 50, 20, 0},
                      DeepView{kDefaultFractal, "0", "1", "1e-1000", 32, 24, 600, 20, 0},
                      DeepView{kDefaultFractal, "0", "1", "1e-4000", 32, 24, 1000, 20, 0}));

// Points whose critical orbits end in a cycle (found by Newton's method), for views that show
// detail at every depth: of the cubic z' = z^3 + c and of the Burning Ship.
const char *const kCubicPointRe =
    "-0.635228154092575047195625214535877438028746435916011373385577410296724105168745959584275"
    "590871505606901781343334317950469589554474131842825298529662257582876879733464443490469399"
    "902093409859740812726152911871847145191249743191237403364839969054932682681409034180346504"
    "902127649011378311351616535520159742292396968795211870243213744357805648199544949699527407"
    "870020679126971278468379039558422388934319023005884283142805704555937453700666801294077157"
    "888175245528017550770925731825873904952204427355483283737011344471069527679860793730861661"
    "324147541199177457848967442924091222615230594391677837311761852730898857902222587309532968"
    "011807316140421104150743167906630910191105705924845159641779402121482753935181740753386333"
    "841102874109371298279640661715361192531757478248825190336199556001163508605940702302207236"
    "888123455596327555621642409004074038104650024806996447542707889085902432534768561776311800"
    "691846835124283079847401370215231543480513875515111053044489403063543714848014164844843421"
    "10226820962038788459374520911135";
const char *const kCubicPointIm =
    "-0.645197141203849540790784598728425620120130535120258374670816695095462299243185054936512"
    "492021328391454860090219037189703965714845950805745897205254822952308402750242025606416509"
    "308361452008112846465708881498582387677196164403061852391030499039148345035110829642402696"
    "820624207515524327581820270770986328472172143857282323437007506888653657193948754449995116"
    "309544865979538439759064398360202094229640873355858762090123299846877038376657442001310712"
    "048278807024029287571744884878544444928164832479673756336380034527081363129245043225625302"
    "203291333001242729103282193572412396146358129346857800049953507975791458767323754069645199"
    "084580975193064946217696240236893500517414362329426719258927093678397482771944457526452135"
    "213277309549433491764975809385615369366829072597327122098347111142555916793157633862902538"
    "619463229926623490195136041269830380560906320177507107344134161268756089995805309833547402"
    "723767171242000857054836036561482416480290052800037469206250671489194240123984023882270556"
    "78323213767561797736439758950597";
const char *const kShipPointRe =
    "0.4006073666402978265162382868078255618296903214569028709375945987420734362831454762392218"
    "548370122236204632622783100269267504847173490964841677021213000136207023041404580150551030"
    "108833744234627762096848066883116507161294652565053581109893551965786695933601220428852408"
    "596210090684469167938120713501594717072960850075836572135977190190796041801837805098150785"
    "178559674992387038662225530717040516636286444235815477971506416257054992800027513221003932"
    "433524557104324496590314126591126267971859749265393858539212132647370765621642367131607489"
    "676974800545828990277476858102158722124188457600623330635626877403799856529882816692933501"
    "162071184361003184258188824852485927480930323800442789339878610928299034083733696627952896"
    "350788203559528338827175040229251610448095708481181567377687832306068366821618613755489093"
    "909204918926287642444731640382503014509541434851582672062814904782819079166384975386723440"
    "598224142608571605927066899827688269544813392477975735616634586197561949881641666856521871"
    "03233155826460450909989440307440";
const char *const kShipPointIm =
    "0.3630347285767190877430767832615978524721801668077130402886089099179684266554133022312316"
    "532238142637469213440928579350866442832637054455729049267511835780041213675593556243216275"
    "857862377500744070032178336775943665359433572623309571664430377889435084806674582779301124"
    "849891478638717076667803602749392496075878801562256096359759818859139541224682383274535788"
    "756486828302338298513361791812816679641986031538030189336506070881228408428749075143270249"
    "403418101685107661652651101702519166652193183483746866748257599390176438660361597811118129"
    "034623371783323409589090567351760811253165102000043044717356985019931789903599374253310763"
    "570392524950605962698690237933851208246368143473954137478845459514738730703699968443913156"
    "897728502952411298107416677538543007037814117047469695252021344003459687999927689197472594"
    "349308764758395324783949695547457849915759677435441764139262653445172484279563433344793314"
    "604270144417521091216336661753176008681273008113122673292397239387311704500834821028858024"
    "71325508802117489516390872180654";

// Bands of the iteration count, and of the distance estimate's logarithm: colours that repeat, for
// views where both are large.
const char *const kBandsColor =
    "x y iter = iter 0.125 * copy int - 250 * 128 + ret iter 0.03125 * copy int - 250 * 128 + ret "
    "128 ret";
const char *const kDeepDistanceColor =
    "x y jxx jyx iter = x sqr y sqr + sqrt copy ln(2) swap YxLog2X * jxx sqr jyx sqr + sqrt / "
    "ln(2) swap YxLog2X 0.5 * copy int - 250 * 128 + ret iter 0.125 * copy int - 250 * 128 + ret "
    "128 ret";

// Skipping iterations by the linear approximation: nearly every pixel as without it.
class Approximated : public Deep, public ::testing::WithParamInterface<DeepView> {};

TEST_P(Approximated, AgreesWithTheIterations) {
    const DeepView &v = GetParam();
    Install(v);
    const std::vector<uint32_t> iterated = DeepPicture(v);
    EXPECT_EQ(skippedShare_, 0);
    const std::vector<uint32_t> approximated = DeepPicture(v, false, 7, 1, true);
    EXPECT_GT(skippedShare_, 0.2);
    EXPECT_GE(std::set<uint32_t>(iterated.begin(), iterated.end()).size(), 4u);
    EXPECT_GE(quob::common::ShareOfClosePixels(approximated, iterated), 0.99);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, Approximated,
    ::testing::Values(
        DeepView{kDefaultFractal, "0", "1", "1e-40", 32, 24, 50, 20, 0},
        DeepView{kDefaultFractal, "0", "1", "1e-300", 32, 24, 50, 20, 0},
        DeepView{kDefaultFractal, "0", "1", "1e-1000", 32, 24, 600, 20, 0},
        DeepView{kCubic, kCubicPointRe, kCubicPointIm, "1e-40", 32, 24, 300, 1, 0,
                 TBandMode::kPlain, 1, 0, 0, kBandsColor},
        DeepView{kCubic, kCubicPointRe, kCubicPointIm, "1e-300", 32, 24, 1500, 1, 0,
                 TBandMode::kPlain, 1, 0, 0, kBandsColor},
        DeepView{kCubic, kCubicPointRe, kCubicPointIm, "1e-1000", 32, 24, 4000, 1, 0,
                 TBandMode::kPlain, 1, 0, 0, kBandsColor},
        DeepView{kBurningShip, kShipPointRe, kShipPointIm, "1e-40", 32, 24, 50, 20, 0},
        DeepView{kBurningShip, kShipPointRe, kShipPointIm, "1e-300", 32, 24, 100, 20, 0},
        DeepView{kBurningShip, kShipPointRe, kShipPointIm, "1e-1000", 32, 24, 2400, 5, 0,
                 TBandMode::kPlain, 1, 0, 0, kBandsColor},

        // From 0, where a sample may rebase.
        DeepView{kCubic, kCubicPointRe, kCubicPointIm, "1e-300", 32, 24, 1500, 1, 0,
                 TBandMode::kPlain, 1, 1, 0, kBandsColor},
        // The derivative carried through skips.
        DeepView{kCubic, kCubicPointRe, kCubicPointIm, "1e-300", 32, 24, 1500, 1, 0,
                 TBandMode::kPlain, 1, 0, 0, kDeepDistanceColor}));

// What deep rendering refuses, naming the keyword or parameter, and what it takes.
struct FormCase {
    const char *fractal;
    const char *refused;  // in the message; nullptr: the form exists
    // Why the form has no linear approximation, in the message; nullptr: it has one.
    const char *unapproximated = nullptr;
};

void PrintTo(const FormCase &c, std::ostream *out) { *out << c.fractal; }

class Forms : public ::testing::TestWithParam<FormCase> {};

TEST_P(Forms, RefusedOrTaken) {
    const FormCase &c = GetParam();
    const auto body =
        ScanDefinition((std::string("D ") + c.fractal).c_str(), FunctionKind::Recursive, {});
    TDeepFormula formula;
    std::string refusal;
    const bool taken = MakeDeepFormula(*body, 0, formula, refusal);
    if (!c.refused) {
        EXPECT_TRUE(taken) << refusal;
        EXPECT_NE(formula.extended, nullptr);
        const std::string none = TLinearSteps::Refusal(*formula.form);
        if (c.unapproximated)
            EXPECT_NE(none.find(c.unapproximated), std::string::npos) << none;
        else
            EXPECT_EQ(none, "");
    } else {
        EXPECT_FALSE(taken);
        EXPECT_NE(refusal.find(c.refused), std::string::npos) << refusal;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Forms,
    ::testing::Values(
        FormCase{"tx ty x y = tx int y + ret ty ret", "\"int\""},
        FormCase{"tx ty x y = tx log2 x + ret ty ret", "\"log2\""},
        FormCase{"tx ty x y = tx 3 swap \\ x + ret ty ret", "\"\\\""},
        FormCase{"tx ty x y = tx ty patan ret ty ret", "\"patan\""},
        FormCase{"tx ty x y = tx ty YxLog2X ret ty ret", "\"YxLog2X\""},
        FormCase{"tx ty x y = ty tx scale swap del x + ret ty ret", "\"scale\""},
        FormCase{"tx ty px py x y = tx x + ret ty y + ret tx ret ty ret", "\"px\""},
        // On values that are the same for every sample they do no harm.
        FormCase{"tx ty x y = 2.5 int tx * x + ret pi 3 patan ty * y + ret", nullptr},
        FormCase{"tx ty x y = 3 tx scale swap del x + ret ty 2 tx 2px * + ret", nullptr},
        FormCase{"tx ty x y = tx sin ty cos * x + ret tx exp ty sqrt / tx abs - y + ret", nullptr},
        FormCase{"tx ty x y = tx ty swap copy * neg del sqr ty tan + x + ret ty sincos - y + "
                 "ret",
                 nullptr},
        FormCase{"tx ty x y = tx ty / ty tx / * x + ret ty sqrt tx neg 1 + / y + ret", nullptr},
        // One value fed back, or three: perturbed, but not by skips, which carry the iterate.
        FormCase{"tx ty x y = tx sqr ty sqr - x + ret", nullptr, "feeds back 1 value, and skips"},
        FormCase{"tx ty x y = tx sqr ty - x + ret ty ret 3 ret", nullptr, "feeds back 3 values"}));

// ---- deep image buffers ---------------------------------------------------------------------

// A deep buffer's picture, top row first, once its fill has ended.
std::vector<uint32_t> Finished(int32_t buffer, int32_t width, int32_t height) {
    while (!QUOB_DeepBufferFilled(buffer))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::vector<uint32_t> top(static_cast<std::size_t>(width) * height);
    const auto *bits = static_cast<const uint32_t *>(QUOB_DeepBufferDC(buffer));
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(&top[static_cast<std::size_t>(y) * width],
                    bits + static_cast<std::size_t>(height - 1 - y) * width, 4u * width);
    return top;
}

constexpr int32_t kRedraw = QUOB_MSG_PREVIEW + QUOB_MSG_FILL_SMOOTH + QUOB_MSG_THREAD;

class DeepBuffers : public Deep, public ::testing::WithParamInterface<DeepView> {
  protected:
    void TearDown() override {
        for (int32_t h = 1; h <= 64; ++h) QUOB_DeleteDeepBuffer(h);
        Deep::TearDown();
    }
};

// The smoothed picture of quob-render's bands, the same for a view after a zoom that keeps the
// centre (whose orbit serves again) and after one that moves it.
TEST_P(DeepBuffers, DrawWhatTheBandsDraw) {
    DeepView v = GetParam();
    v.mode = TBandMode::kSmoothed;
    Install(v);
    const int32_t buffer = QUOB_CreateDeepBuffer(v.width, v.height, 1);
    ASSERT_NE(buffer, 0);
    QUOB_DeepStatus status{};
    char moved[64];
    std::snprintf(moved, sizeof moved, "%s1", v.re);  // one digit more: a new centre
    struct Step {
        const char *re, *scale;
        bool newOrbit;
    } steps[] = {{v.re, v.scale, true}, {v.re, nullptr, false}, {moved, nullptr, true}};
    double orbitSeconds = -1;
    for (const Step &step : steps) {
        char scale[64];
        std::snprintf(
            scale, sizeof scale, "%.20Lg",
            step.scale ? std::strtold(step.scale, nullptr) : std::strtold(v.scale, nullptr) / 2);
        ASSERT_EQ(QUOB_DeepBufferView(buffer, step.re, v.im, scale), 1);
        ASSERT_EQ(QUOB_DeepBufferMessage(buffer, kRedraw), 1);
        const std::vector<uint32_t> picture = Finished(buffer, v.width, v.height);
        ASSERT_EQ(QUOB_DeepBufferStatus(buffer, &status), 1);
        EXPECT_EQ(status.Phase, QUOB_DEEP_FILLED);
        EXPECT_EQ(status.Rows, v.height);
        EXPECT_EQ(status.OrbitSeconds != orbitSeconds, step.newOrbit) << step.re << " " << scale;
        orbitSeconds = status.OrbitSeconds;
        DeepView same = v;
        same.re = step.re;
        same.scale = scale;
        EXPECT_EQ(QUOB_DeepBufferApproximation(buffer, -1), 1);
        EXPECT_EQ(picture, DeepPicture(same, false, 64, kViewOrbitQuantum, true))
            << step.re << " " << scale;
        EXPECT_EQ(status.Bits, precision_);
    }
    // Without the approximation, from the next fill on: every iteration, as the bands make it.
    ASSERT_EQ(QUOB_DeepBufferApproximation(buffer, 0), 1);
    ASSERT_EQ(QUOB_DeepBufferMessage(buffer, kRedraw), 1);
    EXPECT_EQ(QUOB_DeepBufferApproximation(buffer, -1), 0);
    DeepView same = v;
    same.re = moved;
    char scale[64];
    std::snprintf(scale, sizeof scale, "%.20Lg", std::strtold(v.scale, nullptr) / 2);
    same.scale = scale;
    EXPECT_EQ(Finished(buffer, v.width, v.height), DeepPicture(same, false, 64, kViewOrbitQuantum));
    EXPECT_EQ(skippedShare_, 0);
}

INSTANTIATE_TEST_SUITE_P(Views, DeepBuffers,
                         ::testing::Values(DeepView{kDefaultFractal, "-0.7436438870371587",
                                                    "0.1318259042053119", "1e-22", 40, 30, 100, 10},
                                           DeepView{kBurningShip, "-1.7626", "-0.0383", "1e-19", 33,
                                                    21, 60, 20}));

// A formula without a perturbed form is refused with its keyword, a stop abandons the orbit
// under way, texts that are no numbers are refused and the view stays.
TEST_F(DeepBuffers, RefuseAbandonAndKeepTheView) {
    DeepView v{"tx ty x y = tx int y + ret ty ret", "0", "1", "1e-200", 32, 24, 100000, 20};
    Install(v);
    const int32_t buffer = QUOB_CreateDeepBuffer(32, 24, 1);
    ASSERT_NE(buffer, 0);
    QUOB_DeepStatus status{};
    EXPECT_EQ(QUOB_DeepBufferView(buffer, "0", "1", "1e-200"), 1);
    EXPECT_EQ(QUOB_DeepBufferMessage(buffer, kRedraw), 0);
    EXPECT_EQ(QUOB_GetLastError(), QUOB_ERR_DEEP_UNAVAILABLE);
    ASSERT_EQ(QUOB_DeepBufferStatus(buffer, &status), 1);
    EXPECT_EQ(status.Phase, QUOB_DEEP_FAILED);
    EXPECT_NE(std::string(status.Note).find("\"int\""), std::string::npos) << status.Note;

    // Two million iterations at 1e-200: seconds of orbit, given up at once.
    QUOB_FillerParams p = DefaultParams();
    p.FractalFormula = kDefaultFractal;
    ASSERT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_FRACTAL_FORMULA}.flags), 1);
    ASSERT_EQ(QUOB_DeepBufferMessage(buffer, kRedraw), 1);
    EXPECT_FALSE(QUOB_DeepBufferFilled(buffer));
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(QUOB_DeepBufferMessage(buffer, QUOB_MSG_STOP), 1);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(), 1.0);
    ASSERT_EQ(QUOB_DeepBufferStatus(buffer, &status), 1);
    EXPECT_EQ(status.Phase, QUOB_DEEP_IDLE);
    EXPECT_TRUE(QUOB_DeepBufferFilled(buffer));

    for (const char *text : {"", "1e", "nan", "inf", "0x1p3", "1,5", "--1"})
        EXPECT_EQ(QUOB_DeepBufferView(buffer, text, "1", "1e-200"), 0) << text;
    EXPECT_EQ(QUOB_DeepBufferView(buffer, "0", "1", "1e-5000"), 0) << "a step beyond extended";
    // A change of the filler stops the fill; the buffer goes with its fill under way.
    ASSERT_EQ(QUOB_DeepBufferMessage(buffer, kRedraw), 1);
    ASSERT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_COLOR_FORMULA}.flags), 1);
    EXPECT_TRUE(QUOB_DeepBufferFilled(buffer));
    ASSERT_EQ(QUOB_DeepBufferMessage(buffer, kRedraw), 1);
    EXPECT_EQ(QUOB_DeleteDeepBuffer(buffer), 1);
    EXPECT_EQ(QUOB_DeepBufferStatus(buffer, &status), 0);
}

// ---- deep pictures of record ----------------------------------------------------------------

// Deep pictures by checksum: FNV-1a over the pixels, as the deep fill drew them before its
// compiler read the checked body of the one front end; never regenerate them to make a failing
// case pass.
struct DeepRecord {
    const char *name;
    uint64_t checksum;
    DeepView view;
};

// Formulas of exactly rounded operations only (no FSIN, F2XM1, ...), so that the pictures are
// those of any x86 processor.
const char *const kRoots = "tx ty x y = tx abs sqrt ty * x + ret ty abs tx * 2 * y + ret";
// z^2 + 1/c: quotients of values that vary from sample to sample.
const char *const kQuotients =
    "tx ty x y = tx sqr ty sqr - x sqr y sqr + x / + ret tx ty * 2 * x sqr y sqr + y neg / + ret";
const char *const kShapes =
    "tx ty x y = tx ty swap copy * neg del sqr ty sqr - x + ret tx ty * copy + y + ret";
const char *const kFixedScale =
    "tx ty x y = 1 tx sqr ty sqr - scale swap del x + ret 2 tx ty * * y + ret";
// The fractional parts of large multiples of the iterate: neighbouring samples whose iterates
// differ a little differ in colour.
const char *const kFineColor =
    "x y = x 99999 * copy int - 250 * 128 + ret y 99999 * copy int - 250 * 128 + ret x y * 9999 "
    "* copy int - 250 * 128 + ret";

// Each view shows detail (a boundary of its formula's set) and takes its own way through the deep
// fill: modes, supersampling, references that escape, formulas of every form.
const DeepRecord kDeepRecords[] = {
    {"Spiral1e100",
     0x7337C7EC06C0DF72ull,
     {kDefaultFractal, "0", "1", "1e-100", 32, 24, 50, 20, 0}},
    {"Smoothed1e1000",
     0xDFE16779E394E82Bull,
     {kDefaultFractal, "0", "1", "1e-1000", 32, 24, 600, 20, 0, TBandMode::kSmoothed}},
    {"ReferenceEscapes", 0x976A1AD99E728313ull, {kDefaultFractal, "-0.7437", "0.1319", "1e-4"}},
    {"BurningShip", 0xB5DD3B8CF0E3461Full, {kBurningShip, "-0.5", "0.05051919238167632", "1e-12"}},
    {"Cubic",
     0xBC317E73DD8632BCull,
     {kCubic, "-0.10266499917729355013", "-1.1367322494652408078", "1e-15", 40, 30, 40, 20, 0,
      TBandMode::kSmoothed, 1, 0, 0, kFineColor}},
    {"Phoenix",
     0x13ED3C8DBF9DA032ull,
     {kPhoenix, "0.4", "0.7126861763604294", "1e-12", 48, 36, 20, 20, 0}},
    {"Preview1e300",
     0x8D61ED3B4D66DDAAull,
     {kDefaultFractal, "0", "1", "1e-300", 95, 71, 50, 20, 0, TBandMode::kPreview}},
    {"Supersampled",
     0xFBA8AB512AC4EB29ull,
     {kDefaultFractal, "0", "1", "1e-30", 24, 18, 40, 7, 0, TBandMode::kPlain, 2}},
    {"Roots",
     0xD63EE98AC52D7C01ull,
     {kRoots, "0.33921281303726756121", "-1.3095116715257760851", "1e-15", 32, 24, 60, 5, 0.001f,
      TBandMode::kPlain, 1, 0, 0, kFineColor}},
    {"Quotients",
     0xD390FF314C38C784ull,
     {kQuotients, "0.47", "-0.13", "1e-6", 32, 24, 300, 1, 0, TBandMode::kPlain, 1, 0, 0,
      kFineColor}},
    {"Shapes",
     0x12F332ADABC4286Aull,
     {kShapes, "-1.5", "-0.125", "1e-6", 32, 24, 300, 1, 0, TBandMode::kPlain, 1, 0, 0,
      kFineColor}},
    {"FixedScale",
     0x838CB47A9D9EA63Cull,
     {kFixedScale, "-0.15074858253124978749", "-0.16798657864531236188", "1e-9", 32, 24, 300, 1, 0,
      TBandMode::kPlain, 1, 0, 0, kFineColor}},
    {"FromZeroEscapeTakesColor",
     0x79B17F6AD89CBDACull,
     {kDefaultFractal, "-0.7436438870371587", "0.1318259042053119", "1e-10", 32, 24, 1000, 3, 0,
      TBandMode::kPlain, 1, 1, 1, kFineColor}},
};

// The pass loop in the deep code and its careful iterations draw what passes from C++ draw: views
// of one iteration a pass, of escaping samples that overflow inside their passes, and of a
// formula without careful iterations.
class DeepFastPaths : public Deep, public ::testing::WithParamInterface<DeepView> {};

TEST_P(DeepFastPaths, DrawWhatPassesFromCppDraw) {
    const DeepView &v = GetParam();
    Install(v);
    const std::vector<uint32_t> fast = DeepPicture(v);
    UseFastPaths(false);
    const std::vector<uint32_t> slow = DeepPicture(v);
    UseFastPaths(true);
    EXPECT_EQ(fast, slow);
    EXPECT_GE(std::set<uint32_t>(fast.begin(), fast.end()).size(), 8u);
}

INSTANTIATE_TEST_SUITE_P(
    Views, DeepFastPaths,
    ::testing::Values(DeepView{kDefaultFractal, "-0.7437", "0.1319", "1e-5", 24, 18, 600, 1, 0,
                               TBandMode::kPlain, 1, 0, 0, kFineColor},
                      DeepView{kDefaultFractal, "-0.7437", "0.1319", "1e-5", 32, 24, 30, 20},
                      DeepView{kBurningShip, "-0.5", "0.05051919238167632", "1e-12", 24, 18, 40,
                               13},
                      DeepView{kCubic, "-0.10266499917729355013", "-1.1367322494652408078", "1e-15",
                               24, 18, 60, 7, 0, TBandMode::kPlain, 1, 0, 0, kFineColor},
                      DeepView{kQuotients, "0.47", "-0.13", "1e-6", 24, 18, 100, 5, 0,
                               TBandMode::kPlain, 1, 0, 0, kFineColor}));

class DeepRecords : public Deep, public ::testing::WithParamInterface<DeepRecord> {
  public:
    uint64_t Checksum(const DeepView &v) {
        QUOB_DeleteFiller(1);
        Install(v);
        const std::vector<uint32_t> picture = DeepPicture(v);
        colours_ = std::set<uint32_t>(picture.begin(), picture.end()).size();
        uint64_t hash = 14695981039346656037ull;
        for (const uint32_t pixel : picture)
            for (int shift = 0; shift < 32; shift += 8)
                hash = (hash ^ (pixel >> shift & 0xFF)) * 1099511628211ull;
        return hash;
    }
    void TestBody() override {}
    std::size_t colours_ = 0;
};

void PrintTo(const DeepRecord &c, std::ostream *os) { *os << c.name; }

// Also with a colour formula that names the orbit inputs without using them: the iterations run
// one at a time beside the tangent iteration, and nothing else changes.
TEST_P(DeepRecords, AreDrawnBitForBit) {
    EXPECT_EQ(Checksum(GetParam().view), GetParam().checksum);
    DeepView v = GetParam().view;
    std::string color = v.color;
    color.insert(color.find('='), "jyy iter jxx ");
    v.color = color.c_str();
    EXPECT_EQ(Checksum(v), GetParam().checksum) << "with the derivative followed";
}

INSTANTIATE_TEST_SUITE_P(Views, DeepRecords, ::testing::ValuesIn(kDeepRecords),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quob::test

int main(int argc, char **argv) {
    // Prints every deep record's checksum under this build.
    if (argc == 2 && std::strcmp(argv[1], "--checksums") == 0) {
        for (const auto &c : quob::test::kDeepRecords) {
            quob::test::DeepRecords probe;
            const uint64_t checksum = probe.Checksum(c.view);
            std::printf("%s 0x%016llXull (%zu colours)\n", c.name,
                        static_cast<unsigned long long>(checksum), probe.colours_);
            QUOB_DeleteFiller(1);
        }
        return 0;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
