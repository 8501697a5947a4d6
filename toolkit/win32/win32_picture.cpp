#include "win32_picture.h"
#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tk::win32 {

namespace {

BITMAPINFO dibInfo(SizePx size)
{
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = size.cx;
    bi.bmiHeader.biHeight = -size.cy; // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    return bi;
}

UniqueBitmap makeDib(SizePx size, const std::uint32_t* pixels)
{
    const BITMAPINFO bi = dibInfo(size);
    void* bits = nullptr;
    UniqueBitmap dib(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (dib && bits)
        std::memcpy(bits, pixels, std::size_t(size.cx) * size.cy * 4);
    return dib;
}

// Area-weighted resampling of premultiplied pixels: each target pixel averages the source
// area it covers, which is what a shrink needs; an enlargement degrades to nearest pixel.
std::vector<std::uint32_t> resample(const std::vector<std::uint32_t>& src, SizePx from, SizePx to)
{
    std::vector<std::uint32_t> out(std::size_t(to.cx) * to.cy);
    const double sx = double(from.cx) / to.cx, sy = double(from.cy) / to.cy;
    for (int ty = 0; ty < to.cy; ++ty) {
        const double y0 = ty * sy, y1 = std::max(y0 + 1e-9, (ty + 1) * sy);
        for (int tx = 0; tx < to.cx; ++tx) {
            const double x0 = tx * sx, x1 = std::max(x0 + 1e-9, (tx + 1) * sx);
            double acc[4] = {0, 0, 0, 0}, total = 0;
            for (int y = int(y0); y < from.cy && y < y1; ++y) {
                const double wy = std::min<double>(y + 1, y1) - std::max<double>(y, y0);
                for (int x = int(x0); x < from.cx && x < x1; ++x) {
                    const double w = wy * (std::min<double>(x + 1, x1) - std::max<double>(x, x0));
                    const std::uint32_t p = src[std::size_t(y) * from.cx + x];
                    for (int c = 0; c < 4; ++c)
                        acc[c] += w * ((p >> (8 * c)) & 0xFF);
                    total += w;
                }
            }
            std::uint32_t p = 0;
            for (int c = 0; c < 4; ++c)
                p |= std::uint32_t(std::min(255.0, acc[c] / (total > 0 ? total : 1) + 0.5)) << (8 * c);
            out[std::size_t(ty) * to.cx + tx] = p;
        }
    }
    return out;
}

} // namespace

Win32Picture::Win32Picture(SizePx size, std::vector<std::uint32_t> pixels)
    : size_(size), pixels_(std::move(pixels))
{
    hasAlpha_ = std::any_of(pixels_.begin(), pixels_.end(), [](std::uint32_t p) { return (p >> 24) != 0xFF; });
}

HBITMAP Win32Picture::bitmapFor(SizePx target) const
{
    if (target == size_) {
        if (!bitmap_)
            bitmap_ = makeDib(size_, pixels_.data());
        return bitmap_.get();
    }
    auto& slot = scaled_[std::pair{target.cx, target.cy}];
    if (!slot)
        slot = makeDib(target, resample(pixels_, size_, target).data());
    return slot.get();
}

void Win32Picture::draw(HDC dc, RectPx dest) const
{
    const SizePx target{dest.width(), dest.height()};
    if (target.cx <= 0 || target.cy <= 0)
        return;
    if (!hasAlpha_ && target == size_) {
        // Straight from the pixels: an opaque picture at its own size needs no bitmap of its own.
        const BITMAPINFO bi = dibInfo(size_);
        SetDIBitsToDevice(dc, dest.left, dest.top, DWORD(size_.cx), DWORD(size_.cy), 0, 0, 0, UINT(size_.cy),
                          pixels_.data(), &bi, DIB_RGB_COLORS);
        return;
    }
    UniqueMemDc mem(CreateCompatibleDC(dc));
    SelectScope select(mem.get(), bitmapFor(target));
    if (hasAlpha_) {
        const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        GdiAlphaBlend(dc, dest.left, dest.top, target.cx, target.cy, mem.get(), 0, 0, target.cx, target.cy, blend);
    } else {
        BitBlt(dc, dest.left, dest.top, target.cx, target.cy, mem.get(), 0, 0, SRCCOPY);
    }
}

PicturePtr Win32Picture::decode(codecs::Bytes file)
{
    codecs::Image image = codecs::decodeImage(file);
    if (image.empty())
        return nullptr;
    // Not make_shared: without run-time type information its control block asks the C++
    // runtime to compare type tags, which links that runtime's shared-pointer and locking code.
    return PicturePtr(new Win32Picture(SizePx{image.width, image.height}, std::move(image.pixels)));
}

} // namespace tk::win32
