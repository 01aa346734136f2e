#include "imaging/pixels/result_memory.h"
#include "imaging/pixels/large_pages.h"

#include <algorithm>
#include <cstdint>
#include <sys/mman.h>

ResultMemory::~ResultMemory()
{
    freeBlock(block);
    for (const Block& old : outgrown)
        freeBlock(old);
}

void ResultMemory::freeBlock(const Block& b)
{
    if (b.bits)
        munmap(b.bits, b.bytes);
}

FIBITMAP* ResultMemory::bitmap(int width, int height, int bpp)
{
    if (width <= 0 || height <= 0 || (bpp != 24 && bpp != 32))
        return nullptr;
    const std::size_t pitch = (std::size_t(width) * std::size_t(bpp) + 31) / 32 * 4;
    const std::size_t needed = pitch * std::size_t(height);
    if (needed > block.bytes) {
        // Room to grow by half as much again: a slider moving up takes the
        // block over step by step. Untouched pages cost nothing.
        std::size_t bytes = needed + needed / 2;
        void* fresh = mapLargePages(&bytes);
        if (!fresh)
            return nullptr;
        if (block.bits)
            outgrown.push_back(block);
        block = {static_cast<unsigned char*>(fresh), bytes};
    }
    return FreeImage_ConvertFromRawBitsEx(FALSE, block.bits, FIT_BITMAP, width, height, int(pitch),
                                          unsigned(bpp), FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK,
                                          FI_RGBA_BLUE_MASK, FALSE);
}

bool ResultMemory::holds(const void* p) const
{
    const auto inside = [p](const Block& b) {
        const auto* byte = static_cast<const unsigned char*>(p);
        return b.bits && byte >= b.bits && byte < b.bits + b.bytes;
    };
    return inside(block) || std::any_of(outgrown.begin(), outgrown.end(), inside);
}

void ResultMemory::release(FIBITMAP* current)
{
    const unsigned char* shown =
        current && FreeImage_HasPixels(current) ? FreeImage_GetBits(current) : nullptr;
    auto kept = outgrown.begin();
    for (const Block& old : outgrown) {
        if (shown && shown >= old.bits && shown < old.bits + old.bytes)
            *kept++ = old;
        else
            freeBlock(old);
    }
    outgrown.erase(kept, outgrown.end());
}
