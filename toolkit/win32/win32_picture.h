// A decoded picture held as premultiplied 32-bit BGRA pixels. An opaque picture drawn at its own
// size is copied straight from them; any other draw goes through a DIB section made at its first
// use. Stretched draws use a copy resampled once per target size, so a 100-pixel logo shown at
// 78 pixels stays smooth.
#pragma once
#include "../backend.h"
#include "../codecs/image.h"
#include "handles.h"
#include "small_map.h"
#include <cstdint>
#include <utility>
#include <vector>

namespace tk::win32 {

class Win32Picture final : public Picture {
public:
    Win32Picture(SizePx size, std::vector<std::uint32_t> pixels);
    SizePx size() const override { return size_; }
    void draw(HDC dc, RectPx dest) const;

    static PicturePtr decode(codecs::Bytes file); // BMP, JPEG or GIF; null if unreadable

private:
    HBITMAP bitmapFor(SizePx target) const;

    SizePx size_;
    std::vector<std::uint32_t> pixels_;
    bool hasAlpha_ = false;
    mutable UniqueBitmap bitmap_; // for a transparent picture at its own size, made at its first draw
    mutable SmallMap<std::pair<int, int>, UniqueBitmap> scaled_;
};

} // namespace tk::win32
