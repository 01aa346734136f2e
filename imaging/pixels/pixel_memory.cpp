// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/pixels/pixel_memory.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t largePage = 2 * 1024 * 1024;

std::size_t roundUp(std::size_t bytes, std::size_t unit)
{
    return (bytes + unit - 1) / unit * unit;
}

std::size_t pageSize()
{
    static const std::size_t size = std::size_t(sysconf(_SC_PAGESIZE));
    return size;
}

// A fresh block of whole 2 MiB pages, starting on one; null when memory runs out.
unsigned char* mapBlock(std::size_t bytes)
{
    void* mapped = mmap(nullptr, bytes + largePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapped == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = roundUp(start, largePage);
    if (aligned > start)
        munmap(mapped, aligned - start);
    if (const std::size_t after = start + largePage - aligned)
        munmap(reinterpret_cast<void*>(aligned + bytes), after);
    madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);
    return reinterpret_cast<unsigned char*>(aligned);
}

bool within(const void* p, const unsigned char* start, std::size_t size)
{
    const auto* byte = static_cast<const unsigned char*>(p);
    return start && byte >= start && byte < start + size;
}

// The blocks let go, for the next ones that fit; leaked at exit, so that no
// block outlives them (and a kept block, which would keep itself as it goes,
// never goes).
struct KeptBlocks {
    std::mutex mutex;
    PixelBlock kept[4];
};

KeptBlocks& keptBlocks()
{
    static KeptBlocks* blocks = new KeptBlocks;
    return *blocks;
}

} // namespace

std::size_t standardPitch(int width, int bpp)
{
    return (std::size_t(width) * std::size_t(bpp) + 31) / 32 * 4;
}

FIBITMAP* standardBitmapOver(unsigned char* bits, int width, int height, int bpp)
{
    return FreeImage_ConvertFromRawBitsEx(
        FALSE, bits, FIT_BITMAP, width, height, int(standardPitch(width, bpp)), unsigned(bpp),
        FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK, FALSE);
}

void PixelBlock::swap(PixelBlock& other) noexcept
{
    std::swap(bytes_, other.bytes_);
    std::swap(size_, other.size_);
}

bool PixelBlock::holds(const void* p) const
{
    return within(p, bytes_, size_);
}

bool PixelBlock::reserve(std::size_t wanted)
{
    if (wanted <= size_)
        return true;
    keep();
    {
        KeptBlocks& blocks = keptBlocks();
        const std::lock_guard<std::mutex> lock(blocks.mutex);
        PixelBlock* best = nullptr;
        for (PixelBlock& kept : blocks.kept) {
            if (kept.size_ >= wanted && (!best || kept.size_ < best->size_))
                best = &kept;
        }
        if (best) {
            swap(*best); // this block is empty after keep()
            return true;
        }
    }
    const std::size_t bytes = roundUp(wanted, largePage);
    bytes_ = mapBlock(bytes);
    size_ = bytes_ ? bytes : 0;
    return bytes_ != nullptr;
}

void PixelBlock::keep()
{
    if (!bytes_)
        return;
    {
        KeptBlocks& blocks = keptBlocks();
        const std::lock_guard<std::mutex> lock(blocks.mutex);
        PixelBlock& smallest = *std::min_element(
            std::begin(blocks.kept), std::end(blocks.kept),
            [](const PixelBlock& a, const PixelBlock& b) { return a.size_ < b.size_; });
        if (smallest.size_ < size_)
            swap(smallest);
    }
    if (bytes_)
        munmap(bytes_, size_);
    bytes_ = nullptr;
    size_ = 0;
}

// A picture's memory file, mapped between room for a result's lines before
// and after it: a result laid around the picture gets anonymous pages before
// it and the file's own pages after it.
struct PixelMemory::Picture {
    int file = -1;
    // The file's offset 0, within a range that is PROT_NONE where nothing is mapped.
    unsigned char* pixels = nullptr;
    std::size_t headRoom = 0;   // the range's bytes before `pixels`
    std::size_t tailRoom = 0;   // and from `pixels` on
    std::size_t headMapped = 0; // anonymous bytes mapped right before `pixels`
    std::size_t mapped = 0;     // bytes of the file mapped at `pixels`
    int width = 0;
    int height = 0;
    int bpp = 0;

    ~Picture()
    {
        unmap();
        close(file);
    }
    void unmap()
    {
        if (pixels)
            munmap(pixels - headRoom, headRoom + tailRoom);
        pixels = nullptr;
        headRoom = tailRoom = headMapped = mapped = 0;
    }
    bool holds(const void* p) const { return within(p, pixels - headRoom, headRoom + tailRoom); }
};

PixelMemory::PixelMemory() = default;
PixelMemory::~PixelMemory() = default;

int PixelMemory::pictureFile(FIBITMAP* keep)
{
    const void* shown = FreeImage_GetBits(keep); // null without a bitmap or its pixels
    const int turn = pictures[0] && pictures[0]->holds(shown) ? 1 : 0;
    std::unique_ptr<Picture>& picture = pictures[turn];
    if (!picture) {
        // The file may grow, never shrink under a mapping, and takes no further seals.
        const int file = memfd_create("glassmere-picture", MFD_CLOEXEC | MFD_ALLOW_SEALING);
        if (file < 0)
            return -1;
        if (fcntl(file, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_SEAL) != 0) {
            const int error = errno;
            close(file);
            errno = error;
            return -1;
        }
        picture = std::make_unique<Picture>();
        picture->file = file;
    }
    // Its mappings stay: the next picture is laid into the same range, and the
    // pages before it, which held the last result's strip, are not fresh again.
    return picture->file;
}

FIBITMAP* PixelMemory::pictureBitmap(int file, int width, int height, int bpp)
{
    const auto& picture = pictures[pictures[1] && pictures[1]->file == file ? 1 : 0];
    if (!picture || picture->file != file || width <= 0 || height <= 0 || (bpp != 24 && bpp != 32))
        return nullptr;
    const std::size_t bytes = standardPitch(width, bpp) * std::size_t(height);
    struct stat info;
    if (fstat(file, &info) != 0 || std::size_t(info.st_size) < bytes)
        return nullptr;
    // Room for a strip as large as the picture, a gap and extra lines on
    // either side; larger results get a block of their own. A picture that
    // fits into the last one's room is laid into it.
    const std::size_t mapped = roundUp(bytes, pageSize());
    const std::size_t room = roundUp(bytes + largePage, largePage);
    if (picture->headRoom < room || picture->tailRoom < mapped + room) {
        picture->unmap();
        void* reserved = mmap(nullptr, room + mapped + room, PROT_NONE,
                              MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (reserved == MAP_FAILED)
            return nullptr;
        picture->pixels = static_cast<unsigned char*>(reserved) + room;
        picture->headRoom = room;
        picture->tailRoom = mapped + room;
    }
    // Populated at once: the pages exist already, written by the decoder.
    if (mmap(picture->pixels, mapped, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED | MAP_POPULATE,
             file, 0) == MAP_FAILED) {
        picture->unmap();
        return nullptr;
    }
    picture->mapped = std::max(picture->mapped, mapped);
    picture->width = width;
    picture->height = height;
    picture->bpp = bpp;
    return standardBitmapOver(picture->pixels, width, height, bpp);
}

FIBITMAP* PixelMemory::around(Picture& picture, const void* bits, int width, int height, int bpp,
                              int pictureLine)
{
    if (!bits || bits != picture.pixels || width != picture.width || bpp != picture.bpp ||
        pictureLine < 0 || height < pictureLine + picture.height)
        return nullptr;
    const std::size_t pitch = standardPitch(width, bpp);
    const std::size_t head = std::size_t(pictureLine) * pitch;
    const std::size_t headPages = roundUp(head, pageSize());
    const std::size_t filePages = roundUp(std::size_t(height - pictureLine) * pitch, pageSize());
    if (headPages > picture.headRoom || filePages > picture.tailRoom)
        return nullptr;
    if (headPages > picture.headMapped) {
        unsigned char* start = picture.pixels - headPages;
        if (mmap(start, headPages - picture.headMapped, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0) == MAP_FAILED)
            return nullptr;
        madvise(start, headPages - picture.headMapped, MADV_HUGEPAGE);
        picture.headMapped = headPages;
    }
    if (filePages > picture.mapped) {
        struct stat info;
        if (fstat(picture.file, &info) != 0 || (std::size_t(info.st_size) < filePages &&
                                                ftruncate(picture.file, off_t(filePages)) != 0))
            return nullptr;
        if (mmap(picture.pixels + picture.mapped, filePages - picture.mapped,
                 PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED | MAP_POPULATE, picture.file,
                 off_t(picture.mapped)) == MAP_FAILED)
            return nullptr;
        picture.mapped = filePages;
    }
    return standardBitmapOver(picture.pixels - head, width, height, bpp);
}

FIBITMAP* PixelMemory::bitmap(int width, int height, int bpp, const void* picture, int pictureLine)
{
    if (width <= 0 || height <= 0 || (bpp != 24 && bpp != 32))
        return nullptr;
    for (const auto& shown : pictures) {
        FIBITMAP* dib = shown ? around(*shown, picture, width, height, bpp, pictureLine) : nullptr;
        if (dib)
            return dib;
    }
    const std::size_t needed = standardPitch(width, bpp) * std::size_t(height);
    if (needed > block.size() || block.holds(picture)) {
        // Room to grow by half as much again: a slider moving up takes the
        // block over step by step. Untouched pages cost nothing.
        PixelBlock fresh;
        if (!fresh.reserve(needed + needed / 2))
            return nullptr;
        if (block.data())
            outgrown.push_back(std::move(block));
        block = std::move(fresh);
    }
    return standardBitmapOver(block.data(), width, height, bpp);
}

bool PixelMemory::holds(const void* p) const
{
    return block.holds(p) ||
           std::any_of(outgrown.begin(), outgrown.end(),
                       [p](const PixelBlock& old) { return old.holds(p); }) ||
           std::any_of(std::begin(pictures), std::end(pictures),
                       [p](const auto& picture) { return picture && picture->holds(p); });
}

void PixelMemory::release(FIBITMAP* current)
{
    const unsigned char* shown = FreeImage_GetBits(current); // null as in pictureFile
    outgrown.erase(std::remove_if(outgrown.begin(), outgrown.end(),
                                  [shown](const PixelBlock& old) { return !old.holds(shown); }),
                   outgrown.end());
}
