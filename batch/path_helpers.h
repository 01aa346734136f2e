// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// Folder paths as 8-bit strings in the local encoding. Both helpers work
// through the process's current directory and leave the process inside the
// folder on success: folder choosers without a starting folder open there.
// On failure the argument and the current directory stay as they were.

// Makes `dir` absolute against the current directory ("." and ".." resolved
// by name, links kept), enters it and ends it with '/'. The absolute path is
// limited to PATH_MAX bytes with its terminating zero; the appended separator
// may take the result one byte further.
bool NormalizeDir(std::string& dir);

// Enters `dir`, a relative path being taken from the current directory.
bool EnterDir(const std::string& dir);

// The lexical absolute form of `path` against the current directory, as
// NormalizeDir computes it, without entering anything. False when the current
// directory cannot be read, the path holds a zero byte or the result is
// longer than the path limit.
bool AbsolutePath(const std::string& path, std::string& absolute);
