#pragma once

// Under glassmere-decoder's address-space limit an allocation that does not
// fit fails, and the readers then give up with no word of why.
// allocation_watch.cpp wraps the allocator's entry points, in the decoder
// only, to remember that one failed, so the answer can say the picture
// exceeds the memory limit.

// Starts watching afresh, before a picture is decoded.
void forgetFailedAllocations();
// Whether an allocation failed since then.
bool anAllocationFailed();
