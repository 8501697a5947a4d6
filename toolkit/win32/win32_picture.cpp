#include "win32_picture.h"
#include <algorithm>
#include <cstring>
#include <utility>

namespace tk::win32 {

namespace {

BITMAPINFO dibInfo(DeviceSize size)
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

UniqueBitmap makeDib(DeviceSize size, const std::uint32_t* pixels)
{
    const BITMAPINFO bi = dibInfo(size);
    void* bits = nullptr;
    UniqueBitmap dib(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (dib && bits)
        std::memcpy(bits, pixels, std::size_t(size.cx) * size.cy * 4);
    return dib;
}

// The source pixels, with their weights, that make one target pixel along one axis.
struct Tap {
    int index;
    double weight;
};
using Taps = std::vector<std::vector<Tap>>;

// A shrink averages the source span each target pixel covers; an enlargement interpolates
// linearly between the two nearest source pixel centres.
Taps tapsFor(int from, int to)
{
    Taps taps(std::size_t(std::max(to, 0)));
    const double step = double(from) / to;
    for (int t = 0; t < to; ++t) {
        auto& out = taps[std::size_t(t)];
        if (to <= from) {
            const double a = t * step, b = std::max(a + 1e-9, (t + 1) * step);
            for (int s = int(a); s < from && s < b; ++s)
                out.push_back({s, std::min<double>(s + 1, b) - std::max<double>(s, a)});
        } else {
            const double centre = std::clamp((t + 0.5) * step - 0.5, 0.0, double(from - 1));
            const int s = int(centre);
            const double w = centre - s;
            out.push_back({s, 1 - w});
            if (w > 0)
                out.push_back({s + 1, w});
        }
    }
    return taps;
}

// Filters premultiplied pixels to another size.
std::vector<std::uint32_t> resample(const std::vector<std::uint32_t>& src, DeviceSize from, DeviceSize to)
{
    std::vector<std::uint32_t> out(std::size_t(to.cx) * to.cy);
    const Taps across = tapsFor(from.cx, to.cx), down = tapsFor(from.cy, to.cy);
    for (int ty = 0; ty < to.cy; ++ty) {
        for (int tx = 0; tx < to.cx; ++tx) {
            double acc[4] = {0, 0, 0, 0}, total = 0;
            for (const Tap& y : down[std::size_t(ty)]) {
                for (const Tap& x : across[std::size_t(tx)]) {
                    const double w = y.weight * x.weight;
                    const std::uint32_t p = src[std::size_t(y.index) * from.cx + x.index];
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

// Each pixel repeated `factor` times across and down.
std::vector<std::uint32_t> repeat(const std::vector<std::uint32_t>& src, DeviceSize from, int factor)
{
    std::vector<std::uint32_t> out(src.size() * std::size_t(factor) * factor);
    const int width = from.cx * factor;
    for (int y = 0; y < from.cy * factor; ++y)
        for (int x = 0; x < width; ++x)
            out[std::size_t(y) * width + x] = src[std::size_t(y / factor) * from.cx + x / factor];
    return out;
}

} // namespace

void Win32Picture::Pixels::assign(DeviceSize s, std::vector<std::uint32_t> pixels)
{
    size = s;
    bgra = std::move(pixels);
    hasAlpha = std::any_of(bgra.begin(), bgra.end(), [](std::uint32_t p) { return (p >> 24) != 0xFF; });
}

// The 96-DPI density holds one pixel per logical pixel.
constexpr DeviceSize atDesignDensity(SizePx s) { return {s.cx, s.cy}; }
constexpr SizePx ofDesignDensity(DeviceSize s) { return {s.cx, s.cy}; }

Win32Picture::Win32Picture(SizePx size, std::vector<std::uint32_t> bgra) : size_(size)
{
    pixels_.assign(atDesignDensity(size), std::move(bgra));
}

bool Win32Picture::decodeInto(codecs::Bytes file, Pixels& into)
{
    codecs::Image image = codecs::decodeImage(file);
    if (image.empty())
        return false;
    into.assign({image.width, image.height}, std::move(image.pixels));
    return true;
}

PicturePtr Win32Picture::load(Files files, int dpi)
{
    Pixels pixels;
    const bool want2x = dpi > DisplayScale::kDesignDpi && !files.file2x.empty();
    if (want2x && decodeInto(files.file2x, pixels)) {
        // Not make_shared: without run-time type information its control block asks the C++
        // runtime to compare type tags, which links that runtime's shared-pointer and locking code.
        auto* p = new Win32Picture(files, {pixels.size.cx / 2, pixels.size.cy / 2});
        p->pixels2x_ = std::move(pixels);
        return PicturePtr(p);
    }
    if (!decodeInto(files.file, pixels))
        return nullptr;
    auto* p = new Win32Picture(files, ofDesignDensity(pixels.size));
    p->pixels_ = std::move(pixels);
    return PicturePtr(p);
}

const Win32Picture::Pixels& Win32Picture::pixelsFor(DisplayScale scale) const
{
    // Moved to a display of the other kind: the density it needs is decoded now.
    if (scale.dpi() > DisplayScale::kDesignDpi && !files_.file2x.empty()) {
        if (pixels2x_.empty())
            decodeInto(files_.file2x, pixels2x_);
        if (!pixels2x_.empty())
            return pixels2x_;
    }
    if (pixels_.empty())
        decodeInto(files_.file, pixels_);
    return pixels_.empty() ? pixels2x_ : pixels_;
}

HBITMAP Win32Picture::bitmapFor(const Pixels& source, DeviceSize target) const
{
    UniqueBitmap& slot = bitmaps_[{&source, target}];
    if (slot)
        return slot.get();
    if (target == source.size) {
        slot = makeDib(target, source.bgra.data());
    } else if (files_.file2x.empty()) {
        // Pixel art: whole-number repetition first, the filter only for what remains.
        const int factor = std::max(1, std::min(target.cx / source.size.cx, target.cy / source.size.cy));
        const DeviceSize grown{source.size.cx * factor, source.size.cy * factor};
        const std::vector<std::uint32_t> big = factor > 1 ? repeat(source.bgra, source.size, factor) : source.bgra;
        slot = makeDib(target, grown == target ? big.data() : resample(big, grown, target).data());
    } else {
        slot = makeDib(target, resample(source.bgra, source.size, target).data());
    }
    return slot.get();
}

void Win32Picture::draw(HDC dc, DeviceRect dest, DisplayScale scale) const
{
    const DeviceSize target{dest.width(), dest.height()};
    if (target.cx <= 0 || target.cy <= 0)
        return;
    const Pixels& source = pixelsFor(scale);
    if (source.empty())
        return;
    if (!source.hasAlpha && target == source.size) {
        // Straight from the pixels: an opaque picture at its own size needs no bitmap of its own.
        const BITMAPINFO bi = dibInfo(source.size);
        SetDIBitsToDevice(dc, dest.left, dest.top, DWORD(target.cx), DWORD(target.cy), 0, 0, 0, UINT(target.cy),
                          source.bgra.data(), &bi, DIB_RGB_COLORS);
        return;
    }
    UniqueMemDc mem(CreateCompatibleDC(dc));
    SelectScope select(mem.get(), bitmapFor(source, target));
    if (source.hasAlpha) {
        const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        GdiAlphaBlend(dc, dest.left, dest.top, target.cx, target.cy, mem.get(), 0, 0, target.cx, target.cy, blend);
    } else {
        BitBlt(dc, dest.left, dest.top, target.cx, target.cy, mem.get(), 0, 0, SRCCOPY);
    }
}

} // namespace tk::win32
