// Runs the program's picture decoders over files, for the codec tests:
//   decode_image [--out DIR] FILE...
// prints "W H | HEAP" or "empty | HEAP" per file, HEAP being the most heap the decode held at
// once in bytes (-1 without the sanitizer's allocator), and with --out writes the pixels
// (0xAARRGGBB, little endian) to DIR/<n>.raw, n counting files from 0.
#include "toolkit/codecs/image.h"
#include <algorithm>
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

static long long heapNow = 0, heapPeak = 0;

int main(int argc, char** argv)
{
    const bool hooks = __sanitizer_install_malloc_and_free_hooks && __sanitizer_get_allocated_size &&
                       __sanitizer_install_malloc_and_free_hooks(
                           [](const volatile void*, std::size_t size) { heapPeak = std::max(heapPeak, heapNow += (long long)size); },
                           [](const volatile void* p) { heapNow -= (long long)__sanitizer_get_allocated_size(p); });
    const bool out = argc > 2 && std::string(argv[1]) == "--out";
    for (int i = out ? 3 : 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        const long long before = heapPeak = heapNow;
        const tk::codecs::Image image = tk::codecs::decodeImage(bytes);
        if (image.empty())
            std::printf("empty | %lld\n", hooks ? heapPeak - before : -1);
        else
            std::printf("%d %d | %lld\n", image.width, image.height, hooks ? heapPeak - before : -1);
        if (out && !image.empty())
            std::ofstream(std::string(argv[2]) + "/" + std::to_string(i - 3) + ".raw", std::ios::binary)
                .write(reinterpret_cast<const char*>(image.pixels.data()), std::streamsize(image.pixels.size() * 4));
    }
    return 0;
}
