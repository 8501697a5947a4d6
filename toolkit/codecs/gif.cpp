// GIF87a and GIF89a: the first image of the file at its own size, with the graphic control
// extension's transparent index. Image data that stops short of the last pixel, cut off or
// ended early, is refused as other readers refuse it.
#include "image.h"
#include <array>

namespace tk::codecs {

namespace {

// Concatenates a chain of data sub-blocks starting at `pos`; returns false if it runs off the end.
bool readSubBlocks(Bytes f, std::size_t& pos, std::vector<std::uint8_t>* out)
{
    while (pos < f.size()) {
        const std::size_t n = f[pos++];
        if (n == 0)
            return true;
        if (n > f.size() - pos)
            return false;
        if (out)
            out->insert(out->end(), f.begin() + std::ptrdiff_t(pos), f.begin() + std::ptrdiff_t(pos + n));
        pos += n;
    }
    return false;
}

// Variable-length LZW of up to 12-bit codes, least significant bit first. Returns the colour
// indices, at most `count` of them.
std::vector<std::uint8_t> decompress(const std::vector<std::uint8_t>& data, int minCodeSize, std::size_t count)
{
    constexpr int kMaxCodes = 4096;
    std::array<std::uint16_t, kMaxCodes> prefix{};
    std::array<std::uint8_t, kMaxCodes> suffix{}, first{};
    std::array<std::uint8_t, kMaxCodes> stack{};
    const int clear = 1 << minCodeSize, end = clear + 1;
    for (int i = 0; i < clear; ++i)
        suffix[std::size_t(i)] = first[std::size_t(i)] = std::uint8_t(i);

    std::vector<std::uint8_t> out;
    out.reserve(count);
    int codeSize = minCodeSize + 1, next = end + 1, previous = -1;
    std::uint32_t acc = 0;
    int bits = 0;
    std::size_t pos = 0;
    while (out.size() < count) {
        while (bits < codeSize && pos < data.size()) {
            acc |= std::uint32_t(data[pos++]) << bits;
            bits += 8;
        }
        if (bits < codeSize)
            break;
        const int code = int(acc & ((1u << codeSize) - 1));
        acc >>= codeSize;
        bits -= codeSize;
        if (code == clear) {
            codeSize = minCodeSize + 1;
            next = end + 1;
            previous = -1;
            continue;
        }
        if (code == end)
            break;
        if (previous < 0) {
            if (code > clear)
                break; // the first code after a clear must be a colour
            out.push_back(std::uint8_t(code));
            previous = code;
            continue;
        }
        if (code > next || (code == next && next == kMaxCodes))
            break;
        // The new entry is the previous string plus the first colour of this one; when this
        // code is that very entry (the "KwKwK" case) its first colour is the previous one's.
        const std::uint8_t head = code == next ? first[std::size_t(previous)] : first[std::size_t(code)];
        if (next < kMaxCodes) {
            prefix[std::size_t(next)] = std::uint16_t(previous);
            suffix[std::size_t(next)] = head;
            first[std::size_t(next)] = first[std::size_t(previous)];
            ++next;
            if (next == (1 << codeSize) && codeSize < 12)
                ++codeSize;
        }
        std::size_t depth = 0;
        for (int c = code; depth < stack.size(); c = prefix[std::size_t(c)]) {
            stack[depth++] = suffix[std::size_t(c)];
            if (c < clear)
                break;
        }
        while (depth > 0 && out.size() < count)
            out.push_back(stack[--depth]);
        previous = code;
    }
    return out;
}

} // namespace

Image decodeGif(Bytes f)
{
    if (f.size() < 13 || f[0] != 'G' || f[1] != 'I' || f[2] != 'F' || f[3] != '8' || (f[4] != '7' && f[4] != '9') ||
        f[5] != 'a')
        return {};
    auto le16 = [&](std::size_t o) { return int(f[o] | f[o + 1] << 8); };
    std::array<std::uint32_t, 256> global{}, local{};
    auto readPalette = [&](std::size_t& pos, int flags, std::array<std::uint32_t, 256>& palette) {
        const std::size_t n = std::size_t(2) << (flags & 7);
        if (f.size() - pos < 3 * n)
            return false;
        for (std::size_t i = 0; i < n; ++i, pos += 3)
            palette[i] = 0xFF000000u | std::uint32_t(f[pos]) << 16 | std::uint32_t(f[pos + 1]) << 8 | f[pos + 2];
        return true;
    };
    std::size_t pos = 13;
    bool haveGlobal = (f[10] & 0x80) != 0;
    if (haveGlobal && !readPalette(pos, f[10], global))
        return {};
    int transparent = -1;
    while (pos < f.size()) {
        const std::uint8_t introducer = f[pos++];
        if (introducer == 0x21) { // extension
            if (pos >= f.size())
                return {};
            const std::uint8_t label = f[pos++];
            if (label == 0xF9 && pos + 5 <= f.size() && f[pos] == 4)
                transparent = (f[pos + 1] & 1) ? f[pos + 4] : -1;
            if (!readSubBlocks(f, pos, nullptr))
                return {};
            continue;
        }
        if (introducer != 0x2C || f.size() - pos < 9) // anything but an image here is the end
            return {};
        const int w = le16(pos + 4), h = le16(pos + 6), flags = f[pos + 8];
        pos += 9;
        if (w == 0 || h == 0 || std::size_t(w) * h > kMaxPixels)
            return {};
        const bool haveLocal = (flags & 0x80) != 0;
        if (haveLocal && !readPalette(pos, flags, local))
            return {};
        if ((!haveLocal && !haveGlobal) || pos >= f.size())
            return {};
        const int minCodeSize = f[pos++];
        std::vector<std::uint8_t> data;
        if (minCodeSize < 2 || minCodeSize > 8 || !readSubBlocks(f, pos, &data))
            return {};
        const std::vector<std::uint8_t> indices = decompress(data, minCodeSize, std::size_t(w) * h);
        if (indices.size() < std::size_t(w) * h)
            return {};
        const auto& palette = haveLocal ? local : global;
        Image image{w, h, std::vector<std::uint32_t>(std::size_t(w) * h)};
        // Interlaced rows arrive as every 8th from 0, every 8th from 4, every 4th from 2, then the odd ones.
        constexpr int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
        int pass = 0, y = 0;
        const bool interlaced = (flags & 0x40) != 0;
        for (std::size_t i = 0; i < indices.size(); ++i) {
            const std::size_t row = i / std::size_t(w), x = i % std::size_t(w);
            if (x == 0 && row > 0 && interlaced) {
                y += kStep[pass];
                while (y >= h && pass < 3)
                    y = kStart[++pass];
            }
            const int outY = interlaced ? y : int(row);
            if (outY < h && indices[i] != transparent)
                image.pixels[std::size_t(outY) * w + x] = palette[indices[i]];
        }
        return image;
    }
    return {};
}

} // namespace tk::codecs
