// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Under glassmere-decoder's address-space limit an allocation that does not
// fit fails, and the readers then give up with no word of why. These tell
// that one failed, so the answer can say the picture exceeds the memory
// limit, with any allocator and under the sanitizers.

// Starts watching afresh, right before a picture is decoded.
void forgetFailedAllocations();
// Whether an allocation failed since then; asked right after the decode,
// before anything else can change errno.
bool anAllocationFailed();
