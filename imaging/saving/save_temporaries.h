// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The temporaries of the safe save (".glassmere-XXXXXXXX.tmp" beside the
// file it replaces) never outlive their save: each is held under a lock
// (flock) while it is written, removed when the process is interrupted by a
// signal it can catch or exits (the window's exit on losing its display
// included), and one that a killed process left behind, held by nobody, is
// removed by the next save into its folder.

#include <QByteArray>

// Installs the removal for SIGINT, SIGTERM, SIGHUP and SIGQUIT (those not
// ignored: a handler already there is called after it) and at exit. Every
// save calls it; a signal whose handler is already this one is left alone.
void removeTemporariesWhenInterrupted();

// Removes every temporary this process is writing. Safe in a signal handler.
void removeTemporariesNow();

// A temporary being written, from just after its creation until it is
// renamed or removed; a free slot when the process writes too many at once.
class HeldTemporary {
public:
    // Takes the lock on `file` (the temporary, open for writing) and
    // remembers `path` for the removal.
    HeldTemporary(const QByteArray& path, int file);
    ~HeldTemporary(); // forgets it, then gives up the lock
    HeldTemporary(const HeldTemporary&) = delete;
    HeldTemporary& operator=(const HeldTemporary&) = delete;

private:
    int slot = -1;
    int lock = -1; // a second descriptor: the lock outlives the writer's close()
};

// Removes the temporaries in `folder` that no save holds: names of the
// form ".glassmere-" + 8 letters or digits + ".tmp", regular files only, and
// only those with something written (a save takes its lock before it writes).
void removeAbandonedTemporaries(const QByteArray& folder);
