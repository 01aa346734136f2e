// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

// Walks a raw deflate stream block by block, reading its Huffman codes but
// writing nothing, to find where its last block starts (`lastBlockBit`, its
// header's first bit) and the bit after its end (`endBit`): several times
// faster than inflating it. False when the stream is not well-formed deflate
// or does not stand for `expectedBytes` bytes.
bool walkDeflate(const std::uint8_t* data, std::size_t size, std::uint64_t expectedBytes,
                 std::uint64_t* lastBlockBit, std::uint64_t* endBit);
