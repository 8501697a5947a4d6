// Uncompressed 24-bit BMPs, bottom-up or top-down: what the applet icons are.
#include "image.h"
#include <cstdlib>

namespace tk::codecs {

Image decodeBmp(Bytes f)
{
    auto le32 = [&](std::size_t o) { return std::int32_t(f[o] | f[o + 1] << 8 | f[o + 2] << 16 | unsigned(f[o + 3]) << 24); };
    auto le16 = [&](std::size_t o) { return int(f[o] | f[o + 1] << 8); };
    constexpr int kBiRgb = 0;
    // The info header (40 bytes or a later, longer one) has the fields read here; the older
    // 12-byte one has them elsewhere.
    if (f.size() < 54 || f[0] != 'B' || f[1] != 'M' || le32(14) < 40 || le16(28) != 24 || le32(30) != kBiRgb)
        return {};
    const std::int32_t w = le32(18), signedHeight = le32(22);
    if (w <= 0 || signedHeight == 0 || signedHeight == INT32_MIN)
        return {};
    const std::int32_t h = std::abs(signedHeight);
    if (std::size_t(w) * std::size_t(h) > kMaxPixels)
        return {};
    const std::size_t offset = std::uint32_t(le32(10)), stride = (std::size_t(w) * 3 + 3) & ~std::size_t(3);
    if (offset > f.size() || stride * std::size_t(h) > f.size() - offset)
        return {};
    Image image{w, h, std::vector<std::uint32_t>(std::size_t(w) * h)};
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = f.data() + offset + stride * std::size_t(signedHeight > 0 ? h - 1 - y : y);
        for (int x = 0; x < w; ++x)
            image.pixels[std::size_t(y) * w + x] = 0xFF000000u | row[3 * x] | row[3 * x + 1] << 8 | row[3 * x + 2] << 16;
    }
    return image;
}

} // namespace tk::codecs
