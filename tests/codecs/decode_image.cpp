// Runs the program's picture decoders over files, for the codec tests:
//   decode_image [--out DIR] [--stats] FILE...
// prints "W H" or "empty" per file and, with --out, writes the pixels (0xAARRGGBB, little
// endian) to DIR/<n>.raw, n counting files from 0. With --stats each line goes on with the
// most heap the decode held at once, in bytes (-1 without the sanitizer's allocator), and its
// time in milliseconds.
#include "toolkit/codecs/image.h"
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

// The sanitizer allocator's hooks (the tool is built with it); weak, so a plain build links.
extern "C" {
__attribute__((weak)) int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, std::size_t),
                                                                    void (*)(const volatile void*));
__attribute__((weak)) std::size_t __sanitizer_get_allocated_size(const volatile void*);
}

namespace {

long long heapNow = 0, heapPeak = 0;

void onMalloc(const volatile void*, std::size_t size)
{
    heapNow += (long long)size;
    if (heapNow > heapPeak)
        heapPeak = heapNow;
}

void onFree(const volatile void* p)
{
    heapNow -= (long long)__sanitizer_get_allocated_size(p);
}

} // namespace

int main(int argc, char** argv)
{
    const bool hooks = __sanitizer_install_malloc_and_free_hooks && __sanitizer_get_allocated_size &&
                       __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
    std::string outDir;
    bool stats = false;
    int n = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--out" && i + 1 < argc) {
            outDir = argv[++i];
            continue;
        }
        if (std::string(argv[i]) == "--stats") {
            stats = true;
            continue;
        }
        std::ifstream in(argv[i], std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        const long long before = heapNow;
        heapPeak = heapNow;
        const auto start = std::chrono::steady_clock::now();
        const tk::codecs::Image image = tk::codecs::decodeImage(bytes);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (image.empty())
            std::printf("empty");
        else
            std::printf("%d %d", image.width, image.height);
        if (stats)
            std::printf(" | %lld %.1f", hooks ? heapPeak - before : -1, ms);
        std::printf("\n");
        if (!outDir.empty() && !image.empty()) {
            std::ofstream out(outDir + "/" + std::to_string(n) + ".raw", std::ios::binary);
            out.write(reinterpret_cast<const char*>(image.pixels.data()), std::streamsize(image.pixels.size() * 4));
        }
        ++n;
    }
    return 0;
}
