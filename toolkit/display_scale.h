// The one factor between the design's space and a display: logical pixels are 96-DPI pixels
// (15 twips each), device pixels are the display's, and device = logical * dpi / 96.
// Backends map at their boundary with it; the toolkit and the windows never see device pixels.
//
// Edges map one by one, rounded to the nearest device pixel, so two rectangles that share an
// edge in the design share it on the display: no gaps, no overlaps. A device pixel maps back to
// the logical pixel whose device span holds it, so a hit test at any device pixel agrees with
// what was drawn there: left and top inclusive, right and bottom exclusive.
#pragma once
#include "types.h"

namespace tk {

class DisplayScale {
public:
    static constexpr int kDesignDpi = 96;

    constexpr DisplayScale() = default;
    explicit constexpr DisplayScale(int dpi) : dpi_(dpi > 0 ? dpi : kDesignDpi) {}

    constexpr int dpi() const { return dpi_; }
    constexpr bool isIdentity() const { return dpi_ == kDesignDpi; }

    // A logical edge or offset to its device pixel (nearest, halves up).
    constexpr int toDevice(int logical) const { return floorDiv(logical * dpi_ + kDesignDpi / 2, kDesignDpi); }
    // The logical pixel whose device span [toDevice(x), toDevice(x + 1)) holds this device pixel.
    constexpr int toLogical(int device) const { return floorDiv(device * kDesignDpi + kDesignDpi / 2 - 1, dpi_); }
    // The logical length that covers a device length: text measured on the device still fits.
    constexpr int lengthToLogical(int device) const { return -floorDiv(-device * kDesignDpi, dpi_); }

    constexpr DevicePoint toDevice(PointPx p) const { return {toDevice(p.x), toDevice(p.y)}; }
    constexpr PointPx toLogical(DevicePoint p) const { return {toLogical(p.x), toLogical(p.y)}; }
    constexpr DeviceSize toDevice(SizePx s) const { return {toDevice(s.cx), toDevice(s.cy)}; }
    constexpr DeviceRect toDevice(RectPx r) const
    {
        return {toDevice(r.left), toDevice(r.top), toDevice(r.right), toDevice(r.bottom)};
    }
    constexpr RectPx toLogical(DeviceRect r) const
    {
        return {toLogical(r.left), toLogical(r.top), toLogical(r.right), toLogical(r.bottom)};
    }

    friend constexpr bool operator==(DisplayScale, DisplayScale) = default;

private:
    static constexpr int floorDiv(int a, int b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
    int dpi_ = kDesignDpi;
};

} // namespace tk
