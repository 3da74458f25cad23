#include "state.h"

#include <QFile>
#include <QMessageBox>
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>

#include "application.h"
#include "datafiles.h"
#include "list_records.h"
#include "orbit_inputs.h"
#include "picture_files.h"
#include "picture_texts.h"
#include "whole_file.h"

namespace {

// The filler compiles with one iteration per call for a block length beyond its range.
int32_t FillerBlockLength(int32_t blockLength) {
    return blockLength < 1 || blockLength > 1000 ? 1 : blockLength;
}

// How many times slower the iteration runs beside the tangent iteration that gives a colour
// formula its derivative inputs, as render_bench measures it on the home view at block length 1.
constexpr int kDerivativeSlowdown = 2;

// The iterations after an iterate passes MaxModule M that a quadratic formula runs before it
// overflows extended precision: n more take it to about M^(2^n), which stays below the largest
// extended value, about 1.19e4932, for n = floor(log2(ln 1.19e4932 / ln M)); 14 for M = 2, where at
// the home view no escaping sample takes the escape colour up to block length 14. -1 where M is no
// bailout beyond 1.
int32_t IterationsBeforeOverflow(float maxModule) {
    if (!(maxModule > 1) || !std::isfinite(maxModule)) return -1;
    const long double lnLargest = std::log(1.19L) + 4932 * std::log(10.0L);
    return static_cast<int32_t>(
        std::floor(std::log2(lnLargest / std::log(static_cast<long double>(maxModule)))));
}

}  // namespace

void ModalMessageBox(TBoxIcon icon, const QString &caption, const QString &text) {
    QMessageBox box(icon == TBoxIcon::Error ? QMessageBox::Critical : QMessageBox::Information,
                    caption, text, QMessageBox::Ok);
    box.exec();
}

TViewerState::TViewerState(const TQuobImports &quob, TMessageBox messageBox)
    : quob(quob),
      messageBox(std::move(messageBox)),
      params(ViewerDefaults()),
      history(std::make_unique<THotSpotStack>()) {
    // The formula fields are set only for the duration of an update that compiles them.
    params.FractalFormula = params.ColorFormula = nullptr;
    history->Push(kHomeRe, kHomeIm, kHomeScale);
}

TViewerState::~TViewerState() { ViewerDone(); }

// ---- Start-up and shutdown ---------------------------------------------------------------------

bool TViewerState::ViewerInit() {
    const QUOB_FillerParams defaults = ViewerDefaults();
    fillerHandle = quob.CreateFiller(&defaults);
    if (!fillerHandle) {
        ErrorMessageBox("Runtime error 2613. Could not create fractal object");
        return false;
    }
    quob.GetFiller(fillerHandle, &params);  // Version, PixelRoutine, Description, 0, 0
    return true;
}

void TViewerState::ViewerDone() {
    if (deepHandle) {
        quob.DeleteDeepBuffer(deepHandle);  // which stops its fill
        deepHandle = 0;
        deepDrawn = false;
    }
    if (bufferHandle) {
        quob.IBufferMessage(bufferHandle, QUOB_MSG_STOP);
        quob.DeleteIBuffer(bufferHandle);
        bufferHandle = 0;
    }
    if (fillerHandle) {
        quob.DeleteFiller(fillerHandle);
        fillerHandle = 0;
    }
    history.reset();
}

// ---- Changes -----------------------------------------------------------------------------------

void TViewerState::Redraw(std::initializer_list<TChangeSet> changes) {
    // The filler must not change while it fills.
    quob.IBufferMessage(bufferHandle, QUOB_MSG_STOP);
    if (deepHandle) quob.DeepBufferMessage(deepHandle, QUOB_MSG_STOP);
    for (const TChangeSet &change : changes)
        quob.UpdateFiller(fillerHandle, &params, change.data());
    deepDrawn = StartDeepFill();
    if (!deepDrawn) quob.IBufferMessage(bufferHandle, RedrawMessage);
    emit FillStarted();
}

bool TViewerState::StartDeepFill() {
    deepRefusal.clear();
    const quob::common::ExactView view = View();
    if (!bufferHandle || !fillerHandle || !quob::common::NeedsDeep(view, DrawnHeight()))
        return false;
    if (deepHandle && deepSize != bufferSize) {
        quob.DeleteDeepBuffer(deepHandle);
        deepHandle = 0;
    }
    if (!deepHandle) {
        deepHandle = quob.CreateDeepBuffer(bufferSize.width(), bufferSize.height(), fillerHandle);
        deepSize = bufferSize;
    }
    QUOB_DeepStatus status{};
    if (!deepHandle)
        deepRefusal = "no deep buffer could be made";
    else if (!quob.DeepBufferView(deepHandle, view.re.c_str(), view.im.c_str(), view.scale.c_str()))
        deepRefusal = "the step between its pixels is beyond extended precision";
    else {
        quob.DeepBufferApproximation(deepHandle, approximation ? 1 : 0);
        if (quob.DeepBufferMessage(deepHandle, RedrawMessage)) {
            deepApproximated = quob.DeepBufferApproximation(deepHandle, -1) == 1;
            return true;
        }
        if (quob.DeepBufferStatus(deepHandle, &status))
            deepRefusal = QString::fromUtf8(status.Note);
    }
    return false;
}

int32_t TViewerState::DrawnHeight() const {
    return bufferSize.height() > 0 ? bufferSize.height() : ViewerDefaults().Height;
}

quob::common::ExactView TViewerState::View() const {
    if (!exact.re.empty()) return exact;
    return quob::common::ViewOf(params.CenterRe, params.CenterIm, params.Scale);
}

void TViewerState::SetView(long double re, long double im, long double scale) {
    params.CenterRe = static_cast<double>(re);
    params.CenterIm = static_cast<double>(im);
    params.Scale = static_cast<double>(scale);
    // The doubles are the view, as they have always been, but for a scale finer than theirs;
    // where the filler cannot draw it, the deep fill draws it from their texts.
    const quob::common::ExactView texts = quob::common::ViewOf(
        params.CenterRe, params.CenterIm,
        params.Scale >= std::numeric_limits<double>::min() ? params.Scale : scale);
    exact = quob::common::NeedsDeep(texts, DrawnHeight()) ? texts : quob::common::ExactView{};
}

void TViewerState::SetView(const quob::common::ExactView &view) {
    SetView(quob::common::ExtendedOf(view.re), quob::common::ExtendedOf(view.im),
            quob::common::ExtendedOf(view.scale));
    if (quob::common::BeyondExtended(view) || quob::common::NeedsDeep(view, DrawnHeight()))
        exact = view;
}

void TViewerState::JumpTo(long double re, long double im, long double scale) {
    SetView(re, im, scale);
    Redraw({ViewChanged});
}

void TViewerState::JumpTo(const quob::common::ExactView &view) {
    SetView(view);
    Redraw({ViewChanged});
}

void TViewerState::Navigate(long double re, long double im, long double scale) {
    JumpTo(re, im, scale);
    if (history) history->Push(re, im, scale, exact);
}

void TViewerState::Navigate(const quob::common::ExactView &view) {
    JumpTo(view);
    if (history)
        history->Push(quob::common::ExtendedOf(view.re), quob::common::ExtendedOf(view.im),
                      quob::common::ExtendedOf(view.scale), exact);
}

void TViewerState::Zoom(long double factor) {
    // Where the doubles hold the view and its new scale, as they always have.
    const double scale = params.Scale * static_cast<double>(factor);
    if (exact.re.empty() && scale >= std::numeric_limits<double>::min())
        Navigate(params.CenterRe, params.CenterIm, scale);
    else
        Navigate(quob::common::Scaled(View(), factor));
}

void TViewerState::ZoomToSpot(const TViewSpot &spot) {
    const int32_t W = spot.display->width(), H = spot.display->height();
    if (exact.re.empty() && !deepDrawn) {
        const double s = params.Scale;
        const double re = params.CenterRe + s / H * (spot.X - W / 2);
        const double im = params.CenterIm - s / H * (spot.Y - H / 2);  // rows grow downwards
        Navigate(re, im, 2 * s * spot.Radius / H);
        return;
    }
    // At any depth: the new centre from the pixel offset in arbitrary precision.
    Navigate(
        quob::common::Moved(View(), spot.X - W / 2, spot.Y - H / 2, H, 2.0L * spot.Radius / H));
}

bool TViewerState::JumpToEntry(const THotSpotStack::TEntry *view) {
    if (!view) return false;
    const quob::common::ExactView &texts = history->Texts(view);
    if (texts.re.empty())
        JumpTo(view->Re, view->Im, view->Scale);
    else
        JumpTo(texts);
    return true;
}

bool TViewerState::Back() { return history && JumpToEntry(history->Back()); }

bool TViewerState::Forward() { return history && JumpToEntry(history->Forward()); }

void TViewerState::Stop() {
    quob.IBufferMessage(bufferHandle, QUOB_MSG_STOP);
    if (deepHandle) quob.DeepBufferMessage(deepHandle, QUOB_MSG_STOP);
}

bool TViewerState::ReferencePending() const {
    QUOB_DeepStatus status{};
    return deepDrawn && quob.DeepBufferStatus(deepHandle, &status) &&
           status.Phase == QUOB_DEEP_REFERENCE;
}

void TViewerState::SetApproximation(bool on) {
    if (on == approximation) return;
    approximation = on;
    if (deepDrawn) Redraw({});
}

QString TViewerState::DepthNote() const {
    if (!deepDrawn && deepRefusal.isEmpty()) return {};
    const QString scale = "scale " + QString::fromStdString(quob::common::Rounded(View().scale, 3));
    if (!deepDrawn) return QString("%1 · not deep: %2 · blocks").arg(scale, deepRefusal);
    QUOB_DeepStatus status{};
    quob.DeepBufferStatus(deepHandle, &status);
    if (status.Phase == QUOB_DEEP_REFERENCE && status.References == 0)
        return QString("%1 · deep · computing the reference orbit at %2 bits")
            .arg(scale)
            .arg(status.Bits);
    return QString("%1 · deep · %2 reference orbit%3 · %4 bits")
        .arg(scale)
        .arg(status.References)
        .arg(status.References == 1 ? "" : "s")
        .arg(status.Bits);
}

TFormulaCheck TViewerState::CheckFormula(TFormula formula, const QByteArray &text) const {
    return CheckFormula(formula, text, params.BlockLength);
}

TFormulaCheck TViewerState::CheckFormula(TFormula formula, const QByteArray &text,
                                         int32_t blockLength) const {
    const QByteArray definition = "Edit " + text;
    const int32_t handle =
        formula == TFormula::Fractal
            ? quob.CreateRecursiveFunction(definition.constData(), FillerBlockLength(blockLength))
            : quob.CreateRealFunction(definition.constData());
    if (!handle) return {false, false, QString::fromUtf8(quob.GetLastErrorEx())};
    QUOB_FunctionRecord record;
    quob.GetFunction(handle, &record);
    const bool point = quob.AccessParamByName(handle, "x") && quob.AccessParamByName(handle, "y");
    quob.DeleteFunction(handle);
    // The names are those of a definition that compiled: at most 8 characters, NUL-terminated.
    const QString first = QString::fromUtf8(record.Params[0].Name);
    const QString second = QString::fromUtf8(record.Params[1].Name);
    if (formula == TFormula::Fractal) {
        // Two distinct names "x" and "y" make two parameters: the first two are the iterate.
        if (!point)
            return {true, false,
                    "Compiles, but a fractal formula needs parameters named \"x\" and \"y\" "
                    "for the point"};
        QString message =
            QString("Compiles: iterates %1, %2 from the point x, y").arg(first, second);
        if (quob::common::DeclaredOrbitInputs(AsStringView(colorText)).derivative) {
            const std::string reason =
                quob::common::DerivativeUnavailableReason(AsStringView(text));
            if (!reason.empty())
                message += QString("\nWith it the colour formula's derivative inputs read 0: %1.")
                               .arg(QString::fromStdString(reason));
        }
        return {true, true, message};
    }
    if (!point)
        return {true, false,
                "Compiles, but a colour formula needs parameters named \"x\" and \"y\" for "
                "the last iterate"};
    if (record.ResultCount < 3)
        return {true, false,
                QString("Compiles, but a colour formula needs three results (red, green, blue); "
                        "this one has %1")
                    .arg(record.ResultCount)};
    return {true, true,
            (record.ResultCount == 3
                 ? QString("Compiles: red, green and blue from its three results")
                 : QString("Compiles: red, green and blue from the first three of its %1 results")
                       .arg(record.ResultCount)) +
                OrbitNotes(text, blockLength)};
}

QString TViewerState::OrbitNotes(const QByteArray &color, int32_t blockLength) const {
    const quob::common::OrbitInputs inputs = quob::common::DeclaredOrbitInputs(AsStringView(color));
    if (!inputs.iterations && !inputs.derivative) return {};
    const QString unavailable =
        inputs.derivative ? QString::fromStdString(quob::common::DerivativeUnavailableReason(
                                AsStringView(fractalText)))
                          : QString();
    const char *names = !inputs.derivative  ? "iteration count"
                        : inputs.iterations ? "iteration count and derivative"
                                            : "derivative";
    // The tangent iteration runs only where it gives the derivative.
    QString notes = QString("; uses %1: %2")
                        .arg(names, inputs.derivative && unavailable.isEmpty()
                                        ? QString("about %1x slower").arg(kDerivativeSlowdown)
                                        : QString("no extra cost"));
    if (!unavailable.isEmpty())
        notes += QString("\nIts derivative inputs read 0: %1.").arg(unavailable);
    // An escaping sample reaches the colour formula only when its pass ends without an overflow.
    const int32_t safe = IterationsBeforeOverflow(params.MaxModule);
    const int32_t length = FillerBlockLength(blockLength);
    if (safe >= 0 && length > safe)
        notes +=
            QString(
                "\nAt block length %1 escaping samples may overflow inside their pass and take "
                "the escape colour instead of reaching this formula: block length %2 or less "
                "lets them reach it.")
                .arg(length)
                .arg(safe);
    return notes;
}

QString TViewerState::ApplyFormula(TFormula formula, const QByteArray &text) {
    const TFormulaCheck check = CheckFormula(formula, text);
    if (!check.Usable) return check.Message;
    // The library compiles the text during the update and keeps no pointer to it.
    if (formula == TFormula::Fractal) {
        params.FractalFormula = text.constData();
        Redraw({FractalChanged});
    } else {
        params.ColorFormula = text.constData();
        Redraw({ColoringChanged});
    }
    params.FractalFormula = params.ColorFormula = nullptr;
    // Every compilation records its code, 0 for success.
    if (quob.GetLastError() != 0) return QString::fromUtf8(quob.GetLastErrorEx());
    (formula == TFormula::Fractal ? fractalText : colorText) = text;
    return {};
}

void TViewerState::ApplyPrecision(const TPrecisionValues &values) {
    params.MaxModule = values.MaxModule;
    params.Differential = values.Differential;
    params.IterationsLimit = values.IterationsLimit;
    params.BlockLength = values.BlockLength;
    params.RecursionInit = values.RecursionInit;
    Redraw({PrecisionChanged, BlockLengthChanged});
}

QString TViewerState::ApplyScene(const quob::common::PictureSettings &scene) {
    const QByteArray fractal = QByteArray::fromStdString(scene.fractal);
    const QByteArray color = QByteArray::fromStdString(scene.color);
    // The viewer's formulas are those its dialogs and lists hold; a longer one would be cut.
    constexpr qsizetype kLongest = quob::common::TFormulaRecord::TextSize - 1;
    for (const auto &[text, which] : {std::pair{&fractal, "fractal"}, {&color, "colour"}})
        if (text->size() > kLongest)
            return QString(
                       "its %1 formula has %2 bytes, more than the %3 that the viewer's "
                       "formulas hold")
                .arg(which)
                .arg(text->size())
                .arg(kLongest);
    const TFormulaCheck fractalCheck = CheckFormula(TFormula::Fractal, fractal, scene.blockLength);
    if (!fractalCheck.Usable) return "its fractal formula is refused: " + fractalCheck.Message;
    const TFormulaCheck colorCheck = CheckFormula(TFormula::Color, color);
    if (!colorCheck.Usable) return "its colour formula is refused: " + colorCheck.Message;
    const quob::common::ExactView texts{scene.centerReText, scene.centerImText, scene.scaleText};
    SetView(texts);
    // The doubles that the scene's texts read as, as the filler has always taken them.
    params.CenterRe = scene.centerRe;
    params.CenterIm = scene.centerIm;
    params.Scale = scene.scale;
    params.MaxModule = scene.maxModule;
    params.Differential = scene.differential;
    params.IterationsLimit = scene.iterations;
    params.BlockLength = scene.blockLength;
    params.RecursionInit = scene.recursionInit;
    params.EscapeColor = scene.escapeColor;
    params.EscapeTakesColor = scene.escapeTakesColor;
    // The library compiles the texts during the update and keeps no pointer to them.
    params.FractalFormula = fractal.constData();
    params.ColorFormula = color.constData();
    Redraw({SceneChanged});
    params.FractalFormula = params.ColorFormula = nullptr;
    fractalText = fractal;
    colorText = color;
    this->scene = scene;
    if (history)
        history->Push(quob::common::ExtendedOf(scene.centerReText, scene.centerRe),
                      quob::common::ExtendedOf(scene.centerImText, scene.centerIm),
                      quob::common::ExtendedOf(scene.scaleText, scene.scale), exact);
    return {};
}

QString TViewerState::LoadScene(const QString &fileName) {
    quob::common::PictureSettings read;
    std::string error;
    QString why;
    if (!quob::common::ReadScene(QFile::encodeName(fileName).toStdString(), read, error))
        why = QString::fromUtf8(error);
    else
        why = ApplyScene(read);
    if (why.isEmpty()) return {};
    if (!why.endsWith('.')) why += '.';
    return QString("The picture \"%1\" cannot be loaded: %2").arg(fileName, why);
}

// ---- The display's buffer ----------------------------------------------------------------------

bool TViewerState::CreateBuffer(QSize size) {
    if (bufferHandle) quob.DeleteIBuffer(bufferHandle);
    // Selecting the filler gives it the buffer's size: the view keeps its centre and height.
    bufferHandle = quob.CreateIBufferEx(size.width(), size.height(), fillerHandle);
    bufferSize = size;
    if (!bufferHandle) {
        ErrorMessageBox("Runtime error 1113. Could not create video buffer");
        return false;
    }
    deepDrawn = StartDeepFill();
    if (!deepDrawn) quob.IBufferMessage(bufferHandle, RedrawMessage);
    emit FillStarted();
    return true;
}

bool TViewerState::Filled() const {
    return deepDrawn ? quob.DeepBufferFilled(deepHandle) : quob.IBufferFilled(bufferHandle);
}

QImage TViewerState::CopyPicture(QSize size) const {
    // The previous picture stays while the deep fill has none of its own.
    if (ReferencePending() && !lastPicture.isNull()) return lastPicture;
    const auto *bits = static_cast<const uchar *>(deepDrawn ? quob.DeepBufferDC(deepHandle)
                                                            : quob.IBufferDC(bufferHandle));
    if (!bits || bufferSize.isEmpty()) return {};
    // The library's rows are bottom-up 0x00RRGGBB; the copy is top-down and opaque.
    const int bufferWidth = bufferSize.width(), bufferHeight = bufferSize.height();
    const QImage buffer(bits, bufferWidth, bufferHeight, 4 * bufferWidth, QImage::Format_RGB32);
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(Qt::black);
    const int width = std::min(picture.width(), bufferWidth);
    const int height = std::min(picture.height(), bufferHeight);
    for (int y = 0; y < height; ++y) {
        const auto *from =
            reinterpret_cast<const uint32_t *>(buffer.constScanLine(bufferHeight - 1 - y));
        auto *to = reinterpret_cast<uint32_t *>(picture.scanLine(y));
        for (int x = 0; x < width; ++x) to[x] = from[x] | 0xFF000000u;
    }
    lastPicture = picture;
    return picture;
}

QUOB_FillerParams TViewerState::Drawn(QSize size, const QByteArray &fractal,
                                      const QByteArray &color) const {
    QUOB_FillerParams drawn = params;
    drawn.Width = size.width();
    drawn.Height = size.height();
    drawn.FractalFormula = fractal.constData();
    drawn.ColorFormula = color.constData();
    drawn.BlockLength = FillerBlockLength(drawn.BlockLength);
    return drawn;
}

QStringList TViewerState::PictureArguments(TFormula formula, const QByteArray &text,
                                           QSize size) const {
    const bool fractal = formula == TFormula::Fractal;
    const QUOB_FillerParams drawn =
        Drawn(size, fractal ? text : fractalText, fractal ? colorText : text);
    quob::common::PictureParams picture{drawn, quob::common::RenderMode::kSmoothed, 1};
    picture.approximation = approximation;
    if (!exact.re.empty()) {  // a deep view's thumbnail at its own view, every digit
        picture.centerText = exact.re + "," + exact.im;
        picture.scaleText = exact.scale;
    }
    QStringList arguments;
    for (const std::string &argument : quob::common::PictureArguments(picture))
        arguments.append(QString::fromStdString(argument));
    return arguments;
}

QString TViewerState::SavePicture(const QString &fileName, QSize size) const {
    // The display still shows the previous view's picture: it is not this view's.
    if (ReferencePending())
        return "The deep picture of this view is not drawn yet: its reference orbit is being "
               "computed";
    QImage picture = CopyPicture(size);
    if (picture.isNull()) {  // no buffer: the picture is what a new bitmap holds, black
        picture = QImage(size, QImage::Format_RGB32);
        picture.fill(Qt::black);
    }
    const int32_t width = picture.width(), height = picture.height();
    // A picture of 32-bit pixels has its rows back to back, as the writers take them.
    const auto *rows = reinterpret_cast<const uint32_t *>(picture.constBits());
    std::vector<quob::common::TextChunk> texts;
    const bool png = fileName.endsWith(".png", Qt::CaseInsensitive);
    if (png) {
        quob::common::PictureParams drawn{Drawn(picture.size(), fractalText, colorText), scene.mode,
                                          scene.supersample};
        drawn.deep = scene.deepForced;
        drawn.approximation = deepDrawn && deepApproximated;
        // The scene's texts read back as the doubles that it set: while that view is in force
        // they are its view, with every digit.
        if (!exact.re.empty()) {  // every digit of a view that has more than its doubles
            drawn.centerText = exact.re + "," + exact.im;
            drawn.scaleText = exact.scale;
        } else if (!scene.scaleText.empty() && scene.centerRe == params.CenterRe &&
                   scene.centerIm == params.CenterIm && scene.scale == params.Scale) {
            drawn.centerText = scene.centerReText + "," + scene.centerImText;
            drawn.scaleText = scene.scaleText;
        }
        texts = quob::common::PictureTexts(drawn, ApplicationTitle);
    }
    std::string reason;
    const bool written = quob::common::WriteWholeFile(
        QFile::encodeName(fileName).toStdString(),
        [&](int fd) {
            std::unique_ptr<quob::common::TPictureWriter> writer;
            if (png)
                writer = std::make_unique<quob::common::TPngWriter>(fd, width, height, texts);
            else
                writer = std::make_unique<quob::common::TBmpWriter>(fd, width, height);
            return writer->Rows(rows, height) && writer->Finish() ? 0 : writer->Error();
        },
        reason);
    return written ? QString() : QString::fromLocal8Bit(reason);
}

// ---- Message boxes -----------------------------------------------------------------------------

void TViewerState::ErrorMessageBox(const QString &text) const {
    messageBox(TBoxIcon::Error, "Error", text);
}

void TViewerState::ShowGeneralError(const QString &message) const {
    messageBox(TBoxIcon::Error, ApplicationTitle, message.endsWith('.') ? message : message + '.');
}

void TViewerState::ShowGeneralInformation(const QString &message) const {
    messageBox(TBoxIcon::Information, ApplicationTitle,
               message.endsWith('.') ? message : message + '.');
}
