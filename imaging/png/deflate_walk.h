// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

struct DeflateEnds {
    std::uint64_t lastBlockBit = 0; // where the last block's header starts
    std::uint64_t endBit = 0;       // the bit after the last block's end
};

// Walks a raw deflate stream block by block, reading its Huffman codes but
// writing nothing, to find where its last block starts and where its last bit
// lies: several times faster than inflating it. False when the stream is not
// well-formed deflate or does not stand for `expectedBytes` bytes.
bool walkDeflate(const std::uint8_t* data, std::size_t size, std::uint64_t expectedBytes,
                 DeflateEnds* ends);
