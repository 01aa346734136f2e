// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decoder/allocation_watch.h"

#include <atomic>
#include <cerrno>
#include <new>

// Under the address-space limit, an allocation that does not fit fails in
// whichever allocator the process runs (glibc's, one preloaded, a
// sanitizer's): operator new calls its handler, and malloc returns null
// with errno set to ENOMEM. Nothing of the allocator itself is replaced, so
// what it hands out is always freed by the same allocator.

namespace {

std::atomic<bool> allocationFailed{false};

void refusedAllocation()
{
    allocationFailed.store(true, std::memory_order_relaxed);
    throw std::bad_alloc();
}

} // namespace

void forgetFailedAllocations()
{
    std::set_new_handler(refusedAllocation);
    allocationFailed.store(false);
    errno = 0;
}

bool anAllocationFailed()
{
    // A reader that gives up right after a failed malloc leaves its ENOMEM.
    return allocationFailed.load() || errno == ENOMEM;
}

#if defined(__SANITIZE_ADDRESS__)
// A sanitized decoder (scripts/sanitize.sh) behaves at its memory cap as the
// plain one: a refused allocation returns null. A reader's crash is left to
// the program to tell, as without the sanitizer, and leaks of the libraries
// at exit are not this process's findings.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1:detect_leaks=0:handle_segv=0:handle_sigbus=0:"
           "handle_sigfpe=0:handle_sigill=0:handle_abort=0";
}

extern "C" const char* __ubsan_default_options()
{
    return "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0";
}
#endif
