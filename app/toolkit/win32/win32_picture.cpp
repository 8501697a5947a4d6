#include "win32_picture.h"
#include <wincodec.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tk::win32 {

namespace {

UniqueBitmap makeDib(SizePx size, const std::uint32_t* pixels)
{
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = size.cx;
    bi.bmiHeader.biHeight = -size.cy; // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
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
    bitmap_ = makeDib(size_, pixels_.data());
}

HBITMAP Win32Picture::bitmapFor(SizePx target) const
{
    if (target == size_)
        return bitmap_.get();
    auto& slot = scaled_[{target.cx, target.cy}];
    if (!slot)
        slot = makeDib(target, resample(pixels_, size_, target).data());
    return slot.get();
}

void Win32Picture::draw(HDC dc, RectPx dest) const
{
    const SizePx target{dest.width(), dest.height()};
    if (target.cx <= 0 || target.cy <= 0)
        return;
    UniqueMemDc mem(CreateCompatibleDC(dc));
    SelectScope select(mem.get(), bitmapFor(target));
    if (hasAlpha_) {
        const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        GdiAlphaBlend(dc, dest.left, dest.top, target.cx, target.cy, mem.get(), 0, 0, target.cx, target.cy, blend);
    } else {
        BitBlt(dc, dest.left, dest.top, target.cx, target.cy, mem.get(), 0, 0, SRCCOPY);
    }
}

namespace {

// Uncompressed 24-bit BMPs (the applet icons) are read directly: cheaper than asking WIC.
PicturePtr decodeBmp24(const unsigned char* f, std::size_t bytes)
{
    auto le32 = [&](std::size_t o) { return std::int32_t(f[o] | f[o + 1] << 8 | f[o + 2] << 16 | unsigned(f[o + 3]) << 24); };
    auto le16 = [&](std::size_t o) { return int(f[o] | f[o + 1] << 8); };
    if (bytes < 54 || f[0] != 'B' || f[1] != 'M' || le16(28) != 24 || le32(30) != BI_RGB)
        return nullptr;
    const int w = le32(18), h = std::abs(le32(22));
    const std::size_t offset = std::size_t(le32(10)), stride = (std::size_t(w) * 3 + 3) & ~std::size_t(3);
    if (w <= 0 || h <= 0 || offset + stride * std::size_t(h) > bytes)
        return nullptr;
    std::vector<std::uint32_t> pixels(std::size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        const unsigned char* row = f + offset + stride * std::size_t(le32(22) > 0 ? h - 1 - y : y);
        for (int x = 0; x < w; ++x)
            pixels[std::size_t(y) * w + x] = 0xFF000000u | row[3 * x] | row[3 * x + 1] << 8 | row[3 * x + 2] << 16;
    }
    return std::make_shared<Win32Picture>(SizePx{w, h}, std::move(pixels));
}

// The decoder chosen by the file's signature; asking WIC to guess tries every registered one.
const GUID* containerFormat(const unsigned char* f, std::size_t bytes)
{
    if (bytes >= 3 && f[0] == 0xFF && f[1] == 0xD8 && f[2] == 0xFF)
        return &GUID_ContainerFormatJpeg;
    if (bytes >= 4 && f[0] == 'G' && f[1] == 'I' && f[2] == 'F' && f[3] == '8')
        return &GUID_ContainerFormatGif;
    return nullptr;
}

HRESULT openDecoder(IWICImagingFactory& wic, IWICStream& stream, const GUID* format, ComPtr<IWICBitmapDecoder>& decoder)
{
    if (format && SUCCEEDED(wic.CreateDecoder(*format, nullptr, decoder.put())) &&
        SUCCEEDED(decoder->Initialize(&stream, WICDecodeMetadataCacheOnDemand)))
        return S_OK;
    return wic.CreateDecoderFromStream(&stream, nullptr, WICDecodeMetadataCacheOnDemand, decoder.put());
}

} // namespace

PicturePtr Win32Picture::decode(IWICImagingFactory& wic, const void* data, std::size_t bytes)
{
    const auto* file = static_cast<const unsigned char*>(data);
    if (PicturePtr bmp = decodeBmp24(file, bytes))
        return bmp;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(wic.CreateStream(stream.put())) ||
        FAILED(stream->InitializeFromMemory(static_cast<BYTE*>(const_cast<void*>(data)), DWORD(bytes))) ||
        FAILED(openDecoder(wic, *stream.get(), containerFormat(file, bytes), decoder)) ||
        FAILED(decoder->GetFrame(0, frame.put())) || FAILED(wic.CreateFormatConverter(converter.put())) ||
        FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr,
                                     0.0, WICBitmapPaletteTypeCustom)))
        return nullptr;
    UINT w = 0, h = 0;
    if (FAILED(converter->GetSize(&w, &h)) || w == 0 || h == 0)
        return nullptr;
    std::vector<std::uint32_t> pixels(std::size_t(w) * h);
    if (FAILED(converter->CopyPixels(nullptr, w * 4, UINT(pixels.size() * 4), reinterpret_cast<BYTE*>(pixels.data()))))
        return nullptr;
    return std::make_shared<Win32Picture>(SizePx{int(w), int(h)}, std::move(pixels));
}

} // namespace tk::win32
