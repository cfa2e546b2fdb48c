// Preloaded into kalmora for a test: any allocation over KALMORA_FAULT_MEMORY
// bytes fails, as it does when memory runs out. Not for sanitizer builds,
// whose allocator never goes through here.

#include <cerrno>
#include <cstdlib>

extern "C" void* __libc_malloc(std::size_t size);

extern "C" void* malloc(std::size_t size)
{
    static const char* limit = std::getenv("KALMORA_FAULT_MEMORY");
    if (limit != nullptr && size > std::strtoul(limit, nullptr, 10)) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_malloc(size);
}
