// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/png/deflate_walk.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace {

// The stream's bits, least significant first, as deflate packs them.
class BitReader {
public:
    BitReader(const std::uint8_t* bytes, std::size_t byteCount) : data(bytes), size(byteCount) {}

    // At least 56 bits in hand afterwards. The fast path loads eight bytes and
    // keeps what lies above the bits it counts: those are the stream's next
    // bits, so loading them again later sets the same values.
    void refill()
    {
        if (next + 8 <= size) {
            std::uint64_t word;
            std::memcpy(&word, data + next, 8);
            buffer |= word << count;
            next += (63 - count) >> 3;
            count |= 56;
            return;
        }
        while (count < 56) {
            buffer |= std::uint64_t(next < size ? data[next] : 0) << count;
            ++next;
            count += 8;
        }
    }
    unsigned peek(unsigned bits) const
    {
        return unsigned(buffer & ((std::uint64_t(1) << bits) - 1));
    }
    void drop(unsigned bits)
    {
        buffer >>= bits;
        count -= bits;
    }
    unsigned take(unsigned bits)
    {
        const unsigned value = peek(bits);
        drop(bits);
        return value;
    }
    std::uint64_t position() const { return std::uint64_t(next) * 8 - count; }
    bool pastEnd() const { return position() > std::uint64_t(size) * 8; }
    void seek(std::uint64_t bytePosition)
    {
        next = std::size_t(bytePosition);
        buffer = 0;
        count = 0;
    }

private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t next = 0; // the next byte to load
    std::uint64_t buffer = 0;
    unsigned count = 0; // bits in hand
};

// A canonical Huffman code: a table indexed by the stream's next few bits
// for the short codes, which small and cache-resident covers nearly every
// symbol, and a code-by-code search for the rare longer ones.
class HuffmanTable {
public:
    bool build(const std::uint8_t* lengths, unsigned symbols)
    {
        counts.fill(0);
        for (unsigned s = 0; s < symbols; ++s)
            ++counts[lengths[s]];
        counts[0] = 0;
        int left = 1;
        std::array<unsigned, 16> offsets{};
        longest = 0;
        for (unsigned length = 1; length < 16; ++length) {
            left = (left << 1) - int(counts[length]);
            if (left < 0)
                return false; // more codes than the lengths allow
            offsets[length] = offsets[length - 1] + counts[length - 1];
            if (counts[length])
                longest = length;
        }
        sorted.resize(symbols);
        for (unsigned s = 0; s < symbols; ++s)
            if (lengths[s])
                sorted[offsets[lengths[s]]++] = std::uint16_t(s);

        bits = std::min(longest, tableBits);
        table.assign(std::size_t(1) << bits, 0);
        for (unsigned length = 1, code = 0, index = 0; length <= bits; ++length) {
            for (unsigned n = 0; n < counts[length]; ++n, ++code, ++index) {
                unsigned reversed = 0;
                for (unsigned b = 0, c = code; b < length; ++b, c >>= 1)
                    reversed = (reversed << 1) | (c & 1);
                for (std::size_t i = reversed; i < table.size(); i += std::size_t(1) << length)
                    table[i] = std::uint16_t(sorted[index] | (length << 12));
            }
            code <<= 1;
        }
        return true;
    }

    // The next symbol, or -1 where no code matches, as in a table without codes.
    int decode(BitReader& reader) const
    {
        const std::uint16_t entry = table[reader.peek(bits)];
        if (entry >> 12) {
            reader.drop(entry >> 12);
            return entry & 0xFFF;
        }
        // A longer code: one bit at a time, most significant first.
        for (unsigned length = 1, code = 0, first = 0, index = 0; length <= longest; ++length) {
            code |= reader.take(1);
            if (code - first < counts[length])
                return sorted[index + code - first];
            index += counts[length];
            first = (first + counts[length]) << 1;
            code <<= 1;
        }
        return -1;
    }

private:
    static constexpr unsigned tableBits = 10;
    std::array<unsigned, 16> counts{};
    std::vector<std::uint16_t> sorted; // symbols by code
    std::vector<std::uint16_t> table;  // symbol | length << 12; 0 for a longer code
    unsigned bits = 0;
    unsigned longest = 0;
};

constexpr std::uint8_t lengthExtraBits[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t lengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                          15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                          67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t distanceExtraBits[30] = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

bool readDynamicTables(BitReader& reader, HuffmanTable& literals, HuffmanTable& distances)
{
    reader.refill();
    const unsigned literalCount = reader.take(5) + 257;
    const unsigned distanceCount = reader.take(5) + 1;
    const unsigned lengthCodeCount = reader.take(4) + 4;
    static constexpr std::uint8_t order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                               11, 4,  12, 3, 13, 2, 14, 1, 15};
    std::uint8_t lengthCodeLengths[19] = {};
    for (unsigned i = 0; i < lengthCodeCount; ++i) {
        reader.refill();
        lengthCodeLengths[order[i]] = std::uint8_t(reader.take(3));
    }
    HuffmanTable lengthCodes;
    if (!lengthCodes.build(lengthCodeLengths, 19))
        return false;
    std::uint8_t lengths[288 + 32] = {};
    for (unsigned i = 0; i < literalCount + distanceCount;) {
        reader.refill();
        const int symbol = lengthCodes.decode(reader);
        if (symbol < 0)
            return false;
        unsigned repeat = 1;
        std::uint8_t value = std::uint8_t(symbol);
        if (symbol >= 16) {
            // 16 repeats the length before it, 17 and 18 repeat a zero.
            static constexpr std::uint8_t repeatBase[3] = {3, 3, 11}, repeatBits[3] = {2, 3, 7};
            if (symbol == 16 && i == 0)
                return false;
            value = symbol == 16 ? lengths[i - 1] : 0;
            repeat = repeatBase[symbol - 16] + reader.take(repeatBits[symbol - 16]);
        }
        if (i + repeat > literalCount + distanceCount)
            return false;
        std::memset(lengths + i, value, repeat);
        i += repeat;
    }
    return literals.build(lengths, literalCount) &&
           distances.build(lengths + literalCount, distanceCount);
}

void buildFixedTables(HuffmanTable& literals, HuffmanTable& distances)
{
    std::uint8_t lengths[288];
    std::memset(lengths, 8, 144);
    std::memset(lengths + 144, 9, 112);
    std::memset(lengths + 256, 7, 24);
    std::memset(lengths + 280, 8, 8);
    literals.build(lengths, 288);
    std::memset(lengths, 5, 30);
    distances.build(lengths, 30);
}

// Reads one compressed block's symbols up to its end, counting the bytes
// they stand for.
bool skipSymbols(BitReader& reader, const HuffmanTable& literals, const HuffmanTable& distances,
                 std::uint64_t* produced)
{
    for (;;) {
        reader.refill();
        const int symbol = literals.decode(reader);
        if (symbol < 256) {
            if (symbol < 0)
                return false;
            ++*produced;
            continue;
        }
        if (symbol == 256)
            return true;
        if (symbol > 285)
            return false;
        *produced += lengthBase[symbol - 257] + reader.take(lengthExtraBits[symbol - 257]);
        const int distance = distances.decode(reader);
        if (distance < 0 || distance > 29)
            return false;
        reader.drop(distanceExtraBits[distance]);
        if (reader.pastEnd())
            return false;
    }
}

} // namespace

bool walkDeflate(const std::uint8_t* data, std::size_t size, std::uint64_t expectedBytes,
                 std::uint64_t* lastBlockBit, std::uint64_t* endBit)
{
    BitReader reader(data, size);
    HuffmanTable literals, distances;
    std::uint64_t produced = 0;
    for (bool last = false; !last;) {
        *lastBlockBit = reader.position();
        reader.refill();
        last = reader.take(1) == 1;
        const unsigned type = reader.take(2);
        if (type == 0) {
            // Stored: from the next byte boundary, the length, its complement, the bytes.
            reader.drop(unsigned((8 - reader.position() % 8) % 8));
            const unsigned length = reader.take(16);
            if (reader.take(16) != (~length & 0xFFFF))
                return false;
            reader.seek(reader.position() / 8 + length);
            produced += length;
        } else if (type == 1 || type == 2) {
            if (type == 1)
                buildFixedTables(literals, distances);
            else if (!readDynamicTables(reader, literals, distances))
                return false;
            if (!skipSymbols(reader, literals, distances, &produced))
                return false;
        } else {
            return false;
        }
        if (reader.pastEnd())
            return false;
    }
    *endBit = reader.position();
    return produced == expectedBytes;
}
