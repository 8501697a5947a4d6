// Decoders for the picture formats the program ships: uncompressed 24-bit BMP, JPEG (baseline
// and progressive, Huffman-coded, 8-bit) and GIF (first image). They are plain functions over a
// byte span, with no platform calls, so both backends and the tests share them. Decoding them
// here, rather than through the system's imaging components, keeps those components and COM
// out of the program's start.
//
// Pixels are premultiplied 0xAARRGGBB, rows top-down, width * height of them. A file that is
// malformed, unsupported, cut short or larger than kMaxPixels gives an empty Image: no picture
// is ever made up in part. No read ever goes past the span, whatever the bytes say, and the
// work and memory a file can cost are bounded by kMaxPixels and its own size.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tk::codecs {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;

    bool empty() const { return pixels.empty(); }
};

// Guards the allocations a forged header could ask for: ample for anything the program shows
// (its largest picture is 425 x 331).
constexpr std::size_t kMaxPixels = std::size_t(1) << 22;

using Bytes = std::span<const std::uint8_t>;

Image decodeBmp(Bytes file);
Image decodeJpeg(Bytes file);
Image decodeGif(Bytes file);

// Chooses the decoder by the file's signature.
Image decodeImage(Bytes file);

} // namespace tk::codecs
