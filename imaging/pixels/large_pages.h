#pragma once

#include <cstddef>
#include <sys/mman.h>

// A fresh block of at least `*bytes`, rounded up to whole 2 MiB pages (the
// size mapped is put back into `*bytes`) and asked of the kernel in pages of
// that size, so that its first touch costs one fault per 2 MiB rather than per
// 4 KiB; null when memory runs out. munmap frees it.
inline void* mapLargePages(std::size_t* bytes)
{
    constexpr std::size_t largePage = 2 * 1024 * 1024;
    *bytes = (*bytes + largePage - 1) / largePage * largePage;
    void* block = mmap(nullptr, *bytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (block == MAP_FAILED)
        return nullptr;
#if defined(MADV_HUGEPAGE)
    madvise(block, *bytes, MADV_HUGEPAGE);
#endif
    return block;
}
