// The hot spot marker, which the user places, moves and resizes on the display and zooms into, and
// the history of views with Back and Forward. Neither applies a view: the viewer's state does.
#ifndef SPIRALIS_HOTSPOT_H
#define SPIRALIS_HOTSPOT_H

#include <array>
#include <cstddef>
#include <cstdint>

#include "exact_view.h"

class QPainter;
class QWidget;

class TViewSpot {
  public:
    enum : uint8_t { Moving = 0, Resizing = 1, ReleasedOutside = 2, Armed = 3 };

    // At (x, y) on the display, a tenth of the display's smaller side in radius, drawn.
    TViewSpot(int32_t x, int32_t y, QWidget *display);
    // Erases the marker if it is shown.
    virtual ~TViewSpot();
    TViewSpot(const TViewSpot &) = delete;
    TViewSpot &operator=(const TViewSpot &) = delete;

    // Toggles Shown and has the display repainted: the paint shows the marker exactly when
    // Shown is 1, so drawing twice leaves the display as it was. (Every paint draws the marker
    // anew over the picture, so no separate step marks the marker as shown.)
    void DrawMarker();
    // Draws the marker's shapes in exclusive-or mode: the display's paint calls this.
    void PaintMarker(QPainter &painter) const;

    void MoveCenter(int32_t x, int32_t y);
    void ResizeTo(int32_t x, int32_t y);
    bool IsNearCenter(int32_t x, int32_t y) const;
    bool IsOnRim(int32_t x, int32_t y) const;
    bool IsInside(int32_t x, int32_t y) const;
    void UpdateCursor(int32_t x, int32_t y) const;

    int32_t X, Y;
    int32_t Radius;
    uint8_t Shown = 0;
    QWidget *const display;
    uint8_t DragMode = Moving;

  private:
    int32_t Distance(int32_t x, int32_t y) const;
};

class THotSpotStack {
  public:
    static constexpr int32_t Capacity = 4096;
    static constexpr int32_t MaxViews = 4094;

    struct TEntry {
        long double Re, Im, Scale;
        int32_t Valid;
    };

    // Records a view after the current one, with its texts where it keeps digits beyond its
    // extended reals; a full history drops it.
    void Push(long double re, long double im, long double scale,
              const quob::common::ExactView &texts = {});
    // The texts of an entry: empty where its extended reals are the whole view.
    const quob::common::ExactView &Texts(const TEntry *entry) const {
        return texts[static_cast<std::size_t>(entry - Entries)];
    }
    // Step to the previous or the next recorded view and return it; null when there is none.
    const TEntry *Back();
    const TEntry *Forward();

    TEntry Entries[Capacity] = {};
    int32_t Count = 0;  // the entry after the current view

  private:
    std::array<quob::common::ExactView, Capacity> texts;
};

#endif  // SPIRALIS_HOTSPOT_H
