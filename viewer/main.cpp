#include "main.h"

#include <QCursor>
#include <QFileDialog>
#include <QMessageBox>
#include <QPainter>
#include <QShowEvent>
#include <QTimer>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <exception>
#include <set>
#include <stdexcept>
#include <vector>

#include "about.h"
#include "ca.h"
#include "datafiles.h"
#include "exactp.h"
#include "fdef.h"
#include "prec.h"
#include "toolwin.h"

// ---- Settings ----------------------------------------------------------------------------------

namespace {
constexpr const char *DefaultDescription = "Classic Mandelbrot Set";
constexpr const char *DefaultFractal = "tx ty x y = x ty sqr tx sqr -+ret y 2 tx ty **+ret";
constexpr const char *DefaultColor =
    "x y = x y * abs sqrt sqrt sqrt sqrt sqrt copy ret sqrt sqrt copy ret sqrt sqrt ret";
}  // namespace

const QUOB_FillerParams DefaultParams = {
    /*Version*/ 1,
    /*PixelRoutine*/ nullptr,
    /*Description*/ DefaultDescription,
    /*Width*/ 0,
    /*Height*/ 0,
    /*FractalFormula*/ DefaultFractal,
    /*ColorFormula*/ DefaultColor,
    /*CenterRe*/ static_cast<double>(HomeRe),
    /*CenterIm*/ static_cast<double>(HomeIm),
    /*Scale*/ static_cast<double>(HomeScale),
    /*MaxModule*/ 2.0f,
    /*Differential*/ 0.001f,
    /*IterationsLimit*/ 20,
    /*RecursionInit*/ 0,
    /*BlockLength*/ 20,
    /*EscapeColor*/ 0x00FFFFFF,
    /*EscapeTakesColor*/ 0,
};

// ---- Global state ------------------------------------------------------------------------------

int32_t FillerHandle = 0;
int32_t BufferHandle = 0;
QUOB_FillerParams CurrentParams = {};
std::unique_ptr<THotSpotStack> History;
std::unique_ptr<TViewSpot> HotSpot;
TMainWin *MainWin = nullptr;
TDialogForms Forms;

void RedrawBuffer(const QUOB_ChangeSet &changes) {
    // The filler must not change while a fill runs.
    Quob.IBufferMessage(BufferHandle, QUOB_MSG_STOP);
    Quob.UpdateFiller(FillerHandle, &CurrentParams, changes);
    Quob.IBufferMessage(BufferHandle, RedrawMessage);
}

void Redraw(const QUOB_ChangeSet &changes) {
    RedrawBuffer(changes);
    if (MainWin) MainWin->StartDisplay();
}

// ---- Message boxes -----------------------------------------------------------------------------

namespace {
void ShowMessageBox(TBoxIcon icon, const QString &caption, const QString &text) {
    QMessageBox box(icon == TBoxIcon::Error ? QMessageBox::Critical : QMessageBox::Information,
                    caption, text, QMessageBox::Ok);
    box.exec();
}
}  // namespace

void (*MessageBoxHook)(TBoxIcon, const QString &, const QString &) = ShowMessageBox;

void ErrorMessageBox(const QString &text) { MessageBoxHook(TBoxIcon::Error, "Error", text); }

void ShowGeneralError(const QString &message) {
    MessageBoxHook(TBoxIcon::Error, ApplicationTitle,
                   message.endsWith('.') ? message : message + '.');
}

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv) {
    setApplicationName(ApplicationTitle);
}

bool TApplication::notify(QObject *receiver, QEvent *event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &error) {
        ShowGeneralError(QString::fromUtf8(error.what()));
    } catch (...) {
        ShowGeneralError("Unknown error");
    }
    return false;
}

// ---- Hot spot marker ---------------------------------------------------------------------------

namespace {

using TPixels = std::vector<QPoint>;

// A line from (x0, y0) up to, but not including, (x1, y1).
TPixels Line(int x0, int y0, int x1, int y1) {
    TPixels pixels;
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int error = dx + dy;
    while (x0 != x1 || y0 != y1) {
        pixels.emplace_back(x0, y0);
        const int e2 = 2 * error;
        if (e2 >= dy) error += dy, x0 += sx;
        if (e2 <= dx) error += dx, y0 += sy;
    }
    return pixels;
}

// The small square through (x - 2, y - 2), (x + 2, y - 2), (x + 2, y + 2), (x - 2, y + 2) and
// back: four lines without their last points, so every pixel once.
TPixels Square(int x, int y) {
    TPixels pixels;
    const QPoint corners[] = {{x - 2, y - 2}, {x + 2, y - 2}, {x + 2, y + 2}, {x - 2, y + 2}};
    for (int i = 0; i < 4; ++i) {
        const QPoint from = corners[i], to = corners[(i + 1) % 4];
        const TPixels side = Line(from.x(), from.y(), to.x(), to.y());
        pixels.insert(pixels.end(), side.begin(), side.end());
    }
    return pixels;
}

// The circle of the given radius around (x, y), every pixel once (midpoint algorithm).
TPixels Circle(int x, int y, int radius) {
    std::set<std::pair<int, int>> unique;
    for (int px = 0, py = radius, d = 1 - radius; px <= py; ++px) {
        for (const auto &[a, b] : {std::pair{px, py}, std::pair{py, px}})
            for (const int sa : {-1, 1})
                for (const int sb : {-1, 1}) unique.emplace(x + sa * a, y + sb * b);
        if (d < 0) {
            d += 2 * px + 3;
        } else {
            d += 2 * (px - py) + 5;
            --py;
        }
    }
    TPixels pixels;
    for (const auto &[px, py] : unique) pixels.emplace_back(px, py);
    return pixels;
}

// The application-wide cursor: no override means the default cursor.
void SetScreenCursor(Qt::CursorShape shape) {
    if (shape == Qt::ArrowCursor) {
        while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
    } else if (QGuiApplication::overrideCursor()) {
        QGuiApplication::changeOverrideCursor(shape);
    } else {
        QGuiApplication::setOverrideCursor(shape);
    }
}

}  // namespace

TViewSpot::TViewSpot(int32_t x, int32_t y, QWidget *display)
    : X(x), Y(y), Radius(std::min(display->width(), display->height()) / 10), display(display) {
    DrawMarker();
}

TViewSpot::~TViewSpot() {
    if (Shown) DrawMarker();
}

void TViewSpot::DrawMarker() {
    Shown = !Shown;
    display->update();
}

void TViewSpot::PaintMarker(QPainter &painter) const {
    painter.save();
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.setRenderHint(QPainter::Antialiasing, false);
    QPen pen(QColor(208, 224, 208), 1, Qt::SolidLine);
    pen.setCosmetic(true);
    painter.setPen(pen);
    // Each shape is one exclusive-or drawing of its own, as on the original surface: where two
    // shapes meet, their pixels cancel.
    const auto draw = [&painter](const TPixels &pixels) {
        painter.drawPoints(pixels.data(), static_cast<int>(pixels.size()));
    };
    draw(Line(X - 8, Y, X + 8, Y));
    draw(Line(X, Y - 8, X, Y + 8));
    draw(Square(X, Y));
    draw(Circle(X, Y, Radius));
    draw(Square(X - Radius, Y));
    draw(Square(X, Y - Radius));
    draw(Square(X + Radius, Y));
    draw(Square(X, Y + Radius));
    painter.restore();
}

void TViewSpot::MoveCenter(int32_t x, int32_t y) {
    if (Shown) DrawMarker();
    X = x;
    Y = y;
    DrawMarker();
}

void TViewSpot::ResizeTo(int32_t x, int32_t y) {
    if (Shown) DrawMarker();
    Radius = Distance(x, y);
    DrawMarker();
}

int32_t TViewSpot::Distance(int32_t x, int32_t y) const {
    const int32_t dx = x - X, dy = y - Y;
    // lrint rounds to nearest with ties to even in the default rounding mode.
    return static_cast<int32_t>(std::lrint(std::sqrt(double(dx) * dx + double(dy) * dy)));
}

bool TViewSpot::IsNearCenter(int32_t x, int32_t y) const {
    return std::abs(x - X) < 8 && std::abs(y - Y) < 8;
}

bool TViewSpot::IsOnRim(int32_t x, int32_t y) const {
    return std::abs(Radius - Distance(x, y)) < 4;
}

bool TViewSpot::IsInside(int32_t x, int32_t y) const { return Distance(x, y) <= Radius + 5; }

void TViewSpot::UpdateCursor(int32_t x, int32_t y) const {
    Qt::CursorShape shape = Qt::ArrowCursor;
    if (IsNearCenter(x, y)) {
        shape = Qt::DragMoveCursor;
    } else if (IsOnRim(x, y)) {
        if (std::abs(y - Y) < Radius / 3)
            shape = Qt::SizeHorCursor;
        else if (std::abs(x - X) < Radius / 3)
            shape = Qt::SizeVerCursor;
        else if (int64_t(x - X) * (y - Y) > 0)
            shape = Qt::SizeFDiagCursor;  // upper left to lower right
        else
            shape = Qt::SizeBDiagCursor;  // upper right to lower left
    }
    SetScreenCursor(shape);
}

void TViewSpot::ZoomToSpot() {
    const int32_t W = display->width(), H = display->height();
    const double s = CurrentParams.Scale;
    CurrentParams.CenterRe += s / H * (X - W / 2);
    CurrentParams.CenterIm -= s / H * (Y - H / 2);  // rows grow downwards, the imaginary axis up
    CurrentParams.Scale = 2 * s * Radius / H;
    Redraw(ViewChanged);
    History->Push(CurrentParams.CenterRe, CurrentParams.CenterIm, CurrentParams.Scale);
}

// ---- View history ------------------------------------------------------------------------------

void THotSpotStack::Push(long double re, long double im, long double scale) {
    if (Count >= MaxViews) return;
    Entries[Count] = {re, im, scale, 1};
    Entries[Count + 1].Valid = 0;
    ++Count;
}

void THotSpotStack::Restore(int32_t index) {
    CurrentParams.CenterRe = static_cast<double>(Entries[index].Re);
    CurrentParams.CenterIm = static_cast<double>(Entries[index].Im);
    CurrentParams.Scale = static_cast<double>(Entries[index].Scale);
    RedrawBuffer(ViewChanged);  // the caller starts the display
}

bool THotSpotStack::Back() {
    if (Count <= 1) return false;
    --Count;
    Restore(Count - 1);
    return true;
}

bool THotSpotStack::Forward() {
    if (!Entries[Count].Valid) return false;
    Restore(Count);
    ++Count;
    return true;
}

// ---- Main window: display ----------------------------------------------------------------------

TMainWin::TMainWin(QWidget *parent)
    : TViewWindow(parent),
      DisplayTimer(new QTimer(this)),
      SaveAsBmp(new QFileDialog(this, "Save current image in bmp format (True color)")) {
    MainWin = this;
    setupUi(this);
    DisplayTimer->setObjectName("DisplayTimer");
    DisplayTimer->setInterval(1500);
    connect(DisplayTimer, &QTimer::timeout, this, &TMainWin::Displaying);
    SaveAsBmp->setObjectName("SaveAsBmp");
    // Qt's own dialog on every desktop: the same dialog for the user and for the tests. It asks
    // before a file that exists is replaced.
    SaveAsBmp->setOptions(QFileDialog::DontUseNativeDialog);
    SaveAsBmp->setAcceptMode(QFileDialog::AcceptSave);
    SaveAsBmp->setFileMode(QFileDialog::AnyFile);
    SaveAsBmp->setNameFilter("Windows bitmap (24 bits) (*.bmp)");
    SaveAsBmp->setDefaultSuffix("bmp");
    SaveAsBmp->selectFile("default");
    EnableDialogCommands();
}

TMainWin::~TMainWin() {
    HotSpot.reset();
    if (MainWin == this) MainWin = nullptr;
}

void TMainWin::EnableDialogCommands() {
    Exactposition1->setEnabled(Forms.ExactPosition);
    PrecisionvsSpeed1->setEnabled(Forms.Precision);
    Fractal1->setEnabled(Forms.Fractals);
    Colorajustment1->setEnabled(Forms.ColorAdjustment);
    About1->setEnabled(Forms.About);
}

void TMainWin::StartDisplay() {
    DisplayTimer->start();
    Display->update();  // the preview is complete already: show it at once
}

void TMainWin::ScreenPanelResize() {
    if (BufferHandle) Quob.DeleteIBuffer(BufferHandle);
    // Selecting the filler gives it the display's size: the view keeps its centre and height.
    BufferHandle = Quob.CreateIBufferEx(Display->width(), Display->height(), FillerHandle);
    bufferWidth = Display->width();
    bufferHeight = Display->height();
    if (!BufferHandle) {
        ErrorMessageBox("Runtime error 1113. Could not create video buffer");
        return;
    }
    Quob.IBufferMessage(BufferHandle, RedrawMessage);
    StartDisplay();
}

QImage TMainWin::CopyPicture() const {
    const auto *bits = static_cast<const uchar *>(Quob.IBufferDC(BufferHandle));
    if (!bits || bufferWidth <= 0 || bufferHeight <= 0) return {};
    // The library's rows are bottom-up 0x00RRGGBB; the copy is top-down and opaque.
    const QImage buffer(bits, bufferWidth, bufferHeight, 4 * bufferWidth, QImage::Format_RGB32);
    QImage picture(Display->width(), Display->height(), QImage::Format_RGB32);
    picture.fill(Qt::black);
    const int width = std::min(picture.width(), bufferWidth);
    const int height = std::min(picture.height(), bufferHeight);
    for (int y = 0; y < height; ++y) {
        const auto *from =
            reinterpret_cast<const uint32_t *>(buffer.constScanLine(bufferHeight - 1 - y));
        auto *to = reinterpret_cast<uint32_t *>(picture.scanLine(y));
        for (int x = 0; x < width; ++x) to[x] = from[x] | 0xFF000000u;
    }
    return picture;
}

void TMainWin::DisplayPaint() {
    QPainter painter(Display);
    const QImage picture = CopyPicture();
    if (!picture.isNull()) painter.drawImage(0, 0, picture);
    if (HotSpot && HotSpot->Shown) HotSpot->PaintMarker(painter);
}

void TMainWin::Displaying() {
    const bool filled = Quob.IBufferFilled(BufferHandle);
    Display->repaint();
    if (filled) DisplayTimer->stop();  // the last copy has shown the finished picture
}

void TMainWin::DisplayMouseDown(int x, int y) {
    if (!HotSpot) {
        HotSpot = std::make_unique<TViewSpot>(x, y, Display);
        return;
    }
    if (!HotSpot->IsInside(x, y)) HotSpot->MoveCenter(x, y);
    if (HotSpot->IsNearCenter(x, y)) HotSpot->DragMode = TViewSpot::Moving;
    if (HotSpot->IsOnRim(x, y)) HotSpot->DragMode = TViewSpot::Resizing;
}

void TMainWin::DisplayMouseMove(int x, int y) {
    if (!HotSpot) return;
    HotSpot->UpdateCursor(x, y);
    if (HotSpot->DragMode == TViewSpot::Moving)
        HotSpot->MoveCenter(x, y);
    else if (HotSpot->DragMode == TViewSpot::Resizing)
        HotSpot->ResizeTo(x, y);
}

void TMainWin::DisplayMouseUp(int x, int y) {
    if (HotSpot)
        HotSpot->DragMode = HotSpot->IsInside(x, y) ? TViewSpot::Armed : TViewSpot::ReleasedOutside;
}

void TMainWin::DisplayDblClick() {
    if (!HotSpot || HotSpot->DragMode != TViewSpot::Armed) return;
    HotSpot->ZoomToSpot();
    HotSpot.reset();
    StartDisplay();
}

// ---- Main window: commands ---------------------------------------------------------------------

namespace {
void ShowForm(QWidget *form) {
    if (!form) return;
    form->show();
    form->raise();
    form->activateWindow();
}
}  // namespace

void TMainWin::Navigate(long double re, long double im, long double scale) {
    CurrentParams.CenterRe = static_cast<double>(re);
    CurrentParams.CenterIm = static_cast<double>(im);
    CurrentParams.Scale = static_cast<double>(scale);
    Redraw(ViewChanged);
    History->Push(re, im, scale);
}

void TMainWin::Zoomin1Click() {
    Navigate(CurrentParams.CenterRe, CurrentParams.CenterIm, CurrentParams.Scale * 0.5);
}

void TMainWin::Zoomout1Click() {
    Navigate(CurrentParams.CenterRe, CurrentParams.CenterIm, CurrentParams.Scale * 2.0);
}

void TMainWin::Home1Click() { Navigate(HomeRe, HomeIm, HomeScale); }

void TMainWin::Back1Click() {
    if (History->Back()) StartDisplay();
}

void TMainWin::Defaultview1Click() {
    if (History->Forward()) StartDisplay();
}

void TMainWin::Stop1Click() { Quob.IBufferMessage(BufferHandle, QUOB_MSG_STOP); }

void TMainWin::Hidehotspot1Click() { HotSpot.reset(); }

void TMainWin::Exactposition1Click() { ShowForm(Forms.ExactPosition); }
void TMainWin::PrecisionvsSpeed1Click() { ShowForm(Forms.Precision); }
void TMainWin::Fractal1Click() { ShowForm(Forms.Fractals); }
void TMainWin::Colorajustment1Click() { ShowForm(Forms.ColorAdjustment); }
void TMainWin::About1Click() { ShowForm(Forms.About); }

void TMainWin::Exit1Click() { QCoreApplication::quit(); }

void TMainWin::FormShow() { ShowForm(Forms.Tools); }

void TMainWin::showEvent(QShowEvent *event) {
    TViewWindow::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TMainWin::Savepicture1Click() {
    if (SaveAsBmp->exec() != QDialog::Accepted || SaveAsBmp->selectedFiles().isEmpty()) return;
    QImage picture = CopyPicture();
    if (picture.isNull()) {  // no buffer: the picture is what a new bitmap holds, black
        picture = QImage(Display->width(), Display->height(), QImage::Format_RGB32);
        picture.fill(Qt::black);
    }
    // The failure ends here: an exception must not unwind through Qt's signal delivery.
    try {
        SaveBitmapFile(SaveAsBmp->selectedFiles().constFirst(), picture);
    } catch (const std::exception &error) {
        ShowGeneralError(QString::fromUtf8(error.what()));
    }
}

// ---- Saved pictures ----------------------------------------------------------------------------

void SaveBitmapFile(const QString &fileName, const QImage &picture) {
    const int32_t width = picture.width(), height = picture.height();
    const int32_t rowSize = ((width * 24 + 31) / 32) * 4;
    const int32_t imageSize = rowSize * height;
    QByteArray file(54 + imageSize, '\0');
    auto *out = reinterpret_cast<uchar *>(file.data());
    const auto put16 = [out](int offset, int16_t v) { qToLittleEndian<int16_t>(v, out + offset); };
    const auto put32 = [out](int offset, int32_t v) { qToLittleEndian<int32_t>(v, out + offset); };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, 54 + imageSize);
    put16(6, 0);
    put16(8, 0);
    put32(10, 54);
    put32(14, 40);
    put32(18, width);
    put32(22, height);  // positive: rows bottom-up
    put16(26, 1);
    put16(28, 24);
    put32(30, 0);
    put32(34, imageSize);
    // Resolutions, colours used and important colours stay 0.
    for (int32_t row = 0; row < height; ++row) {
        const auto *pixels =
            reinterpret_cast<const uint32_t *>(picture.constScanLine(height - 1 - row));
        uchar *to = out + 54 + row * rowSize;
        for (int32_t x = 0; x < width; ++x) {
            *to++ = static_cast<uchar>(pixels[x]);        // blue
            *to++ = static_cast<uchar>(pixels[x] >> 8);   // green
            *to++ = static_cast<uchar>(pixels[x] >> 16);  // red
        }
    }
    const QString reason = WriteFileWhole(fileName, file);
    if (!reason.isEmpty())
        throw std::runtime_error(
            QString("Cannot create file \"%1\". %2").arg(fileName, reason).toStdString());
}

// ---- Start-up and shutdown ---------------------------------------------------------------------

bool ViewerInit() {
    FillerHandle = Quob.CreateFiller(&DefaultParams);
    if (!FillerHandle) {
        ErrorMessageBox("Runtime error 2613. Could not create fractal object");
        return false;
    }
    Quob.GetFiller(FillerHandle, &CurrentParams);  // Version, PixelRoutine, Description, 0, 0
    CurrentParams.CenterRe = static_cast<double>(HomeRe);
    CurrentParams.CenterIm = static_cast<double>(HomeIm);
    CurrentParams.Scale = static_cast<double>(HomeScale);
    CurrentParams.MaxModule = 2.0f;
    CurrentParams.Differential = 0.001f;
    CurrentParams.IterationsLimit = 20;
    CurrentParams.RecursionInit = 0;
    CurrentParams.BlockLength = 20;
    CurrentParams.EscapeColor = 0x00FFFFFF;
    CurrentParams.EscapeTakesColor = 0;
    HotSpot.reset();
    History = std::make_unique<THotSpotStack>();
    History->Push(HomeRe, HomeIm, HomeScale);
    return true;
}

void ViewerDone() {
    if (BufferHandle) {
        Quob.IBufferMessage(BufferHandle, QUOB_MSG_STOP);
        Quob.DeleteIBuffer(BufferHandle);
        BufferHandle = 0;
    }
    if (FillerHandle) {
        Quob.DeleteFiller(FillerHandle);
        FillerHandle = 0;
    }
    History.reset();
}

void CreateForms() {
    new TMainWin;  // becomes MainWin
    // The main window owns them as its secondary windows: closing it still ends the program.
    Forms.ExactPosition = new TExactPosition(MainWin);
    Forms.Precision = new TPrecision(MainWin);
    Forms.Fractals = new TFractals(MainWin);
    Forms.ColorAdjustment = new TColorAdjustment(MainWin);
    Forms.About = new TAbout(MainWin);
    Forms.Tools = new TTools(MainWin);
    MainWin->EnableDialogCommands();
}

void DestroyForms() {
    for (QWidget *form : {Forms.Tools, Forms.About, Forms.ColorAdjustment, Forms.Fractals,
                          Forms.Precision, Forms.ExactPosition})
        delete form;
    Forms = {};
    delete MainWin;
}
