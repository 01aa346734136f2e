// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one owner of the program's large blocks: pictures handed over by the
// decoder, results, previews, the blur's lines and the PNG writer's bands.
// Fresh memory is what a run pays for first: every new page is a fault and a
// page cleared by the kernel, a third of the processor time of a large
// picture's road. So every block is mapped here alone, asked of the kernel in
// 2 MiB pages (madvise), and kept when let go, for the next block that fits
// into it: at most four are kept, the smallest let go first.

#include <FreeImage.h>

#include <cstddef>
#include <memory>
#include <vector>

// A block of memory that is not filled before it is used; back to the kept
// blocks when it goes.
class PixelBlock {
public:
    PixelBlock() = default;
    ~PixelBlock() { keep(); }
    PixelBlock(PixelBlock&& other) noexcept { swap(other); }
    PixelBlock& operator=(PixelBlock&& other) noexcept
    {
        swap(other);
        return *this;
    }

    // At least `wanted` bytes (what it held is lost when it grows); false when
    // memory runs out.
    bool reserve(std::size_t wanted);
    unsigned char* data() const { return bytes_; }
    std::size_t size() const { return size_; }
    bool holds(const void* p) const;

private:
    void keep();
    void swap(PixelBlock& other) noexcept;
    unsigned char* bytes_ = nullptr;
    std::size_t size_ = 0;
};

// The blocks of one road (the window, a batch job, glassmere-cli): the
// pictures the decoder writes into, and the results rendered from them.
//
// A bitmap made here does not own its pixels: it must not outlive this
// object. Every result hands out the same block again, so only the latest
// result bitmap holds a valid picture; a block outgrown while a bitmap still
// shows it is kept until `release` is told that bitmap is gone. Pictures take
// turns between two memory files, so a picture being decoded never touches
// the one that `keep` shows.
class PixelMemory {
public:
    PixelMemory();
    ~PixelMemory();

    // A standard bitmap (FIT_BITMAP, 24 or 32 bits, FreeImage's pitch), its
    // pixels unset; null when memory runs out. When `picture` is a picture of
    // this memory's of the result's width and depth, and `pictureLine` (the
    // scan line where the result holds the picture, or -1) allows, the
    // result is laid around the picture's own pixels: its lines of the picture
    // are the picture, which is then not copied. Otherwise the block never
    // holds `picture`.
    FIBITMAP* bitmap(int width, int height, int bpp, const void* picture = nullptr,
                     int pictureLine = -1);

    // True when `p` points into memory handed out by this object.
    bool holds(const void* p) const;

    // Frees the outgrown blocks that `current` (the bitmap now in use, or
    // null) does not show.
    void release(FIBITMAP* current);

    // The memory file the decoder writes the next picture into (scan lines
    // bottom-up, FreeImage's pitch, from offset 0): not the one under `keep`.
    // -1 with errno set when none can be made.
    int pictureFile(FIBITMAP* keep);
    // A standard bitmap over that file's first scan lines, once the decoder
    // has written them; null when the file is too small or cannot be mapped.
    FIBITMAP* pictureBitmap(int file, int width, int height, int bpp);

private:
    struct Picture;
    // Null unless `bits` are the picture's and the result can be laid around them.
    FIBITMAP* around(Picture& picture, const void* bits, int width, int height, int bpp,
                     int pictureLine);

    PixelBlock block;
    std::vector<PixelBlock> outgrown;
    std::unique_ptr<Picture> pictures[2];
};

// The pitch FreeImage gives a standard bitmap's scan lines.
std::size_t standardPitch(int width, int bpp);
// A standard bitmap over `bits` (scan lines bottom-up, that pitch), which it
// does not own; null when FreeImage cannot make one.
FIBITMAP* standardBitmapOver(unsigned char* bits, int width, int height, int bpp);
