// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The words every part of Glassmere uses to tell a failure: sizes, the C
// library's errors and what FreeImage said while it worked.

#include <QString>

#include <cstdint>

// "512 MB", "1.5 GB".
QString describeBytes(std::uint64_t bytes);
// The C library's text for `error` (an errno value).
QString systemError(int error);
// `why` into *error, when the caller asked for it; false, for
// `return failWith(error, why)` at a module's boundary.
bool failWith(QString* error, const QString& why);

// FreeImage reports problems through one process-wide callback; these collect
// what it said on the calling thread since the last clear.
void captureFreeImageMessages();
void clearFreeImageMessages();
QString freeImageMessages();
