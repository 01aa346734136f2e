#pragma once

#include <FreeImage.h>

#include <cstddef>
#include <vector>

// Pixel memory for a result that is rendered again and again at sizes that
// change from one render to the next (a slider moved step by step). A fresh
// bitmap of 100 MB costs tens of milliseconds of page faults before the first
// pixel is written; this keeps one block, asks the kernel for 2 MiB pages for
// it, and grows it only when a larger result needs it.
//
// A bitmap made by `bitmap` does not own its pixels: it must not outlive this
// object, and every call hands out the same block again, so only the latest
// bitmap holds a valid picture. A block outgrown while a bitmap still shows it
// is kept until `release` is told that bitmap is gone.
class ResultMemory {
public:
    ResultMemory() = default;
    ~ResultMemory();
    ResultMemory(const ResultMemory&) = delete;
    ResultMemory& operator=(const ResultMemory&) = delete;

    // A standard bitmap (FIT_BITMAP, 24 or 32 bits, FreeImage's pitch) over
    // the block, its pixels unset; null when memory runs out.
    FIBITMAP* bitmap(int width, int height, int bpp);

    // True when `p` points into memory handed out by this object.
    bool holds(const void* p) const;

    // Frees the outgrown blocks that `current` (the bitmap now in use, or
    // null) does not show.
    void release(FIBITMAP* current);

private:
    struct Block {
        unsigned char* bits = nullptr;
        std::size_t bytes = 0;
    };
    static void freeBlock(const Block& block);

    Block block;
    std::vector<Block> outgrown;
};
