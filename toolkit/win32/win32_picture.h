// A picture held as premultiplied 32-bit BGRA pixels, at one or two densities: its own file, and
// for art that has one, a file at twice the resolution for displays above 96 DPI. size() is the
// size in logical pixels (the 96-DPI file's). Each density is decoded at its first need.
// Draws take device rectangles. An opaque picture drawn at its pixels' own size is copied
// straight from them; any other draw goes through a DIB section resampled once per target size:
// - art with a 2x file is filtered from the density nearest above the target;
// - art without one is pixel art: enlarged by whole-number repetition, then filtered only for
//   what remains, so its pixels stay crisp at 200 % and even at 150 %.
#pragma once
#include "../backend.h"
#include "../codecs/image.h"
#include "../display_scale.h"
#include "handles.h"
#include "small_map.h"
#include <cstdint>
#include <vector>

namespace tk::win32 {

class Win32Picture final : public Picture {
public:
    struct Files {
        codecs::Bytes file;   // for 96 DPI
        codecs::Bytes file2x; // twice the resolution; empty for pixel art
    };
    // Decodes the density that a display of this DPI needs; null when it is unreadable.
    static PicturePtr load(Files files, int dpi);
    // Pixel art already decoded: premultiplied BGRA, top row first.
    Win32Picture(SizePx size, std::vector<std::uint32_t> bgra);

    SizePx size() const override { return size_; }
    void draw(HDC dc, DeviceRect dest, DisplayScale scale) const;

private:
    struct Pixels {
        DeviceSize size; // of the pixels themselves
        std::vector<std::uint32_t> bgra;
        bool hasAlpha = false;
        bool empty() const { return bgra.empty(); }
        void assign(DeviceSize size, std::vector<std::uint32_t> bgra);
    };
    Win32Picture(Files files, SizePx size) : files_(files), size_(size) {}
    static bool decodeInto(codecs::Bytes file, Pixels& into);
    const Pixels& pixelsFor(DisplayScale scale) const;
    HBITMAP bitmapFor(const Pixels& source, DeviceSize target) const;

    Files files_;
    SizePx size_;
    mutable Pixels pixels_, pixels2x_;
    struct BitmapKey {
        const Pixels* source;
        DeviceSize size;
        bool operator==(const BitmapKey&) const = default;
    };
    mutable SmallMap<BitmapKey, UniqueBitmap> bitmaps_; // made at the first draw of each size
};

} // namespace tk::win32
