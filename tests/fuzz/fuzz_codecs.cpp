// libFuzzer entry for the picture decoders: any bytes, through the choice by signature, give a
// picture of the size they say and no larger than kMaxPixels, or nothing, and never hold more
// than 100 MB of heap at once. The address and undefined-behaviour checks catch the rest, and
// libFuzzer's -timeout the slow inputs.
#include "toolkit/codecs/image.h"
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sanitizer/allocator_interface.h>

namespace {

std::atomic<long long> heapNow{0}, heapPeak{0};

void onMalloc(const volatile void*, std::size_t size)
{
    const long long now = heapNow += (long long)size;
    for (long long peak = heapPeak; now > peak && !heapPeak.compare_exchange_weak(peak, now);) {
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    __sanitizer_install_malloc_and_free_hooks(
        onMalloc, [](const volatile void* p) { heapNow -= (long long)__sanitizer_get_allocated_size(p); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const long long before = heapNow;
    heapPeak = before;
    const tk::codecs::Image image = tk::codecs::decodeImage({data, size});
    if (heapPeak - before > (100ll << 20))
        std::fprintf(stderr, "decode held %lld bytes of heap at once\n", heapPeak - before), std::abort();
    if (!image.empty() && (image.width <= 0 || image.height <= 0 || image.pixels.size() > tk::codecs::kMaxPixels ||
                           std::size_t(image.width) * std::size_t(image.height) != image.pixels.size()))
        std::fprintf(stderr, "picture of %d x %d with %zu pixels\n", image.width, image.height, image.pixels.size()),
            std::abort();
    return 0;
}
