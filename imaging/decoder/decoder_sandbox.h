// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The decoder's lock: once on, the process can read and write the
// descriptors it holds, map memory that cannot be executed, start threads,
// tell the time and end. Opening or looking at any path fails with EACCES;
// sockets and connections, starting programs, forking, tracing, changing
// its limits and every call not named are refused: such a call stops the
// process, after `refused` has been told its name.
//
// `refused` runs in a signal handler: it may only use calls the lock allows
// and must not allocate (decoder_main.cpp writes the reply with send()).

#include <QString>

using RefusedCall = void (*)(const char* call);

// Sets no-new-privileges and installs the filter; irreversible. False, with
// `*error` telling why, when the kernel or the C library refuse it.
bool lockInDecoder(RefusedCall refused, QString* error);
