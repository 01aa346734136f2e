// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Starting a glassmere-decoder process: its socket and nothing else of the
// program's. decoder_process.cpp passes the messages and
// keeps the pool of decoders.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <sys/types.h>

struct SpawnedDecoder {
    pid_t pid = -1;
    int socket = -1; // the program's end of the request/reply socket
};

// Starts `program` as a decoder that may use `memoryLimit` bytes of address
// space beyond its start-up size; false with the reason in `*error` when it
// cannot be started. Every descriptor is opened close-on-exec.
bool spawnDecoder(const QByteArray& program, std::uint64_t memoryLimit, SpawnedDecoder* decoder,
                  QString* error);
