// Runs the program's picture decoders over files, for the codec tests:
//   decode_image [--out DIR] FILE...
// prints "W H" or "empty" per file and, with --out, writes the pixels (0xAARRGGBB, little
// endian) to DIR/<n>.raw, n counting files from 0.
#include "../../toolkit/codecs/image.h"
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char** argv)
{
    std::string outDir;
    int n = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--out" && i + 1 < argc) {
            outDir = argv[++i];
            continue;
        }
        std::ifstream in(argv[i], std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        const tk::codecs::Image image = tk::codecs::decodeImage(bytes);
        if (image.empty())
            std::printf("empty\n");
        else
            std::printf("%d %d\n", image.width, image.height);
        if (!outDir.empty() && !image.empty()) {
            std::ofstream out(outDir + "/" + std::to_string(n) + ".raw", std::ios::binary);
            out.write(reinterpret_cast<const char*>(image.pixels.data()), std::streamsize(image.pixels.size() * 4));
        }
        ++n;
    }
    return 0;
}
