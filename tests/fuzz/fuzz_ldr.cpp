// The .ldr reader on arbitrary files: it either loads or throws ldr_exception, and while
// it works its heap never holds more than the file's size plus a small constant.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "firmware/ldr.h"

// The allocation hooks of the address sanitizer (both compilers' runtimes have them).
#if defined(__SANITIZE_ADDRESS__)
#define TRELVO_COUNT_ALLOCATIONS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TRELVO_COUNT_ALLOCATIONS 1
#endif
#endif
#ifdef TRELVO_COUNT_ALLOCATIONS
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*onAllocate)(const volatile void*, size_t), void (*onFree)(const volatile void*));
extern "C" size_t __sanitizer_get_allocated_size(const volatile void* p);
#endif

namespace {

// What the reader may hold beyond the file's bytes: the stream's buffer and the module
// records (at most kMaxModules of them, with the list's growth).
constexpr size_t kOverheadBound = 128 * 1024;

#ifdef TRELVO_COUNT_ALLOCATIONS
bool counting = false;
size_t live = 0;
size_t peak = 0;

void OnAllocate(const volatile void*, size_t size)
{
    if (!counting)
        return;
    live += size;
    if (live > peak)
        peak = live;
}

void OnFree(const volatile void* p)
{
    if (!counting || p == nullptr)
        return;
    const size_t size = __sanitizer_get_allocated_size(p);
    live = size > live ? 0 : live - size;
}

bool InstallHooks()
{
    __sanitizer_install_malloc_and_free_hooks(OnAllocate, OnFree);
    return true;
}
#endif

std::string InputPath()
{
    return "/tmp/trelvo-fuzz-ldr-" + std::to_string(getpid()) + ".ldr";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = InputPath();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    if (size != 0 && std::fwrite(data, 1, size, f) != size)
        std::abort();
    std::fclose(f);

#ifdef TRELVO_COUNT_ALLOCATIONS
    static const bool hooked = InstallHooks();
    (void)hooked;
    live = peak = 0;
    counting = true;
#endif
    ldr::file file;
    bool loaded = true;
    try {
        ldr::load(path, file);
    } catch (const ldr_exception&) {
        loaded = false;
    }
#ifdef TRELVO_COUNT_ALLOCATIONS
    counting = false;
    if (peak > size + kOverheadBound) {
        std::fprintf(stderr, "reader held %zu bytes for a file of %zu\n", peak, size);
        std::abort();
    }
#endif
    // What loads serialises back to the very same bytes.
    if (loaded && ldr::serialize(file) != std::vector<uint8_t>(data, data + size))
        std::abort();
    return 0;
}
