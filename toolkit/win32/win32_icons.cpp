#include "win32_icons.h"
#include "resources.h"
#include "win32_picture.h"
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tk::win32 {

namespace {

// The widths of a group's own images, read from its directory (RT_GROUP_ICON or
// RT_GROUP_CURSOR): a 6-byte header, then 14-byte entries whose first byte (icons) or first
// word (cursors) is the width.
std::vector<int> ownWidths(HINSTANCE instance, int resource, bool cursor)
{
    const codecs::Bytes bytes =
        resourceBytes(instance, resource, cursor ? MAKEINTRESOURCEW(12) : MAKEINTRESOURCEW(14));
    std::vector<int> widths;
    if (bytes.size() < 6)
        return widths;
    const int count = bytes[4] | bytes[5] << 8;
    for (int i = 0; i < count && 6 + 14 * std::size_t(i + 1) <= bytes.size(); ++i) {
        const std::uint8_t* entry = bytes.data() + 6 + 14 * i;
        const int width = cursor ? entry[0] | entry[1] << 8 : entry[0];
        widths.push_back(width == 0 ? 256 : width);
    }
    return widths;
}

// The image's pixels as premultiplied BGRA, alpha from the mask where it has none of its own.
std::vector<std::uint32_t> pixelsOf(const ICONINFO& info, int width)
{
    std::vector<std::uint32_t> colour(std::size_t(width) * width), mask(colour.size());
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(bi.bmiHeader), width, -width, 1, 32, BI_RGB};
    WindowDc screen(nullptr);
    if (!info.hbmColor || !GetDIBits(screen.get(), info.hbmColor, 0, UINT(width), colour.data(), &bi, DIB_RGB_COLORS))
        return {};
    GetDIBits(screen.get(), info.hbmMask, 0, UINT(width), mask.data(), &bi, DIB_RGB_COLORS);
    // An image with alpha of its own is already premultiplied, as the system keeps 32-bit icons.
    if (std::none_of(colour.begin(), colour.end(), [](std::uint32_t p) { return p >> 24; }))
        for (std::size_t i = 0; i < colour.size(); ++i)
            colour[i] = (mask[i] & 0xFFFFFF) ? 0 : (colour[i] | 0xFF000000u);
    return colour;
}

HICON grown(HINSTANCE instance, int resource, int size, bool cursor)
{
    // The largest own image that is no larger, else the smallest.
    int fits = 0, smallest = 0;
    for (int w : ownWidths(instance, resource, cursor)) {
        if (w <= size)
            fits = std::max(fits, w);
        if (smallest == 0 || w < smallest)
            smallest = w;
    }
    const int from = fits ? fits : smallest;
    if (from == 0 || from == size)
        return nullptr;
    const UniqueIcon own(static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(resource), cursor ? IMAGE_CURSOR : IMAGE_ICON, from, from, 0)));
    ICONINFO info{};
    if (!own || !GetIconInfo(own.get(), &info))
        return nullptr;
    UniqueBitmap ownColour(info.hbmColor), ownMask(info.hbmMask); // GetIconInfo's copies
    std::vector<std::uint32_t> pixels = pixelsOf(info, from);
    if (pixels.empty())
        return nullptr;

    // Drawn at the new size through the picture's pixel-art rule, into a 32-bit bitmap.
    const Win32Picture art({from, from}, std::move(pixels));
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(bi.bmiHeader), size, -size, 1, 32, BI_RGB};
    void* bits = nullptr;
    UniqueBitmap colour(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!colour || !bits)
        return nullptr;
    std::memset(bits, 0, std::size_t(size) * size * 4);
    {
        UniqueMemDc dc(CreateCompatibleDC(nullptr));
        SelectScope select(dc.get(), colour.get());
        art.draw(dc.get(), {0, 0, size, size}, DisplayScale());
        GdiFlush();
    }
    const std::vector<std::uint8_t> noMask(std::size_t((size + 15) / 16 * 2) * size, 0);
    UniqueBitmap mask(CreateBitmap(size, size, 1, 1, noMask.data())); // the alpha decides
    ICONINFO made{!cursor, DWORD(info.xHotspot * size / from), DWORD(info.yHotspot * size / from), mask.get(),
                  colour.get()};
    return CreateIconIndirect(&made);
}

// Its own image of that size, else one grown from another, else whatever the system makes of it
// (a cursor without colour, say).
HICON atSize(HINSTANCE instance, int resource, int size, bool cursor)
{
    if (HICON made = grown(instance, resource, size, cursor))
        return made;
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(resource), cursor ? IMAGE_CURSOR : IMAGE_ICON, size,
                                         size, 0));
}

} // namespace

HICON iconAtSize(HINSTANCE instance, int resource, int size) { return atSize(instance, resource, size, false); }

HCURSOR cursorAtSize(HINSTANCE instance, int resource, int size)
{
    return static_cast<HCURSOR>(atSize(instance, resource, size, true));
}

} // namespace tk::win32
