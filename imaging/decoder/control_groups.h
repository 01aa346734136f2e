// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The memory a control group leaves this process: the kernel ends a process
// whose group goes over its limit, whatever the machine has free.

#include <QString>

#include <cstdint>

// The least room, limit less usage, over the groups this process is in and
// every group above them, in both versions of control groups (memory.max and
// memory.current; memory.limit_in_bytes and memory.usage_in_bytes, and the
// hierarchical limit of memory.stat). UINT64_MAX when no group has a limit.
// `root` is put before every path read ("/proc/self/cgroup", the mount
// points): empty for this system.
std::uint64_t controlGroupRoom(const QString& root = {});
