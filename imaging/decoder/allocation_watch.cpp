#include "imaging/decoder/allocation_watch.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>

// glibc's own entry points, which the wrappers below call.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

std::atomic<bool> allocationFailed{false};

inline void* noted(void* pointer, size_t size)
{
    if (!pointer && size != 0)
        allocationFailed.store(true, std::memory_order_relaxed);
    return pointer;
}

bool validAlignment(size_t alignment)
{
    return alignment >= sizeof(void*) && (alignment & (alignment - 1)) == 0;
}

} // namespace

extern "C" {

void* malloc(size_t size)
{
    return noted(__libc_malloc(size), size);
}

void* calloc(size_t count, size_t size)
{
    return noted(__libc_calloc(count, size), count | size);
}

void* realloc(void* pointer, size_t size)
{
    return noted(__libc_realloc(pointer, size), size);
}

void* memalign(size_t alignment, size_t size)
{
    return noted(__libc_memalign(alignment, size), size);
}

void* aligned_alloc(size_t alignment, size_t size)
{
    return noted(__libc_memalign(alignment, size), size);
}

int posix_memalign(void** out, size_t alignment, size_t size)
{
    if (!validAlignment(alignment))
        return EINVAL;
    void* pointer = noted(__libc_memalign(alignment, size), size);
    if (!pointer && size != 0)
        return ENOMEM;
    *out = pointer;
    return 0;
}

} // extern "C"

void forgetFailedAllocations()
{
    allocationFailed.store(false);
}

bool anAllocationFailed()
{
    return allocationFailed.load();
}
