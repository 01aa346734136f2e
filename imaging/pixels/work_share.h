// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one fan-out over threads: the blur's passes and the PNG writer's bands
// share their work out through it. Its threads are started once and kept
// between calls (a thread's start costs more than a small step of work), and
// each call takes no more of them than the budget of the thread that asks:
// every core, unless a WorkBudget says less (a batch gives each of its jobs
// its share of the cores).

#include <functional>
#include <memory>

// Runs body(0) .. body(workers - 1) at once: body(0) on the calling thread,
// the others on kept threads as they come free; returns when every one has
// returned. A body takes its pieces of work from a shared counter, so that
// one that starts late finds less to do, or nothing; one whose thread cannot
// be had leaves its share to the others. Bodies must not throw.
void shareWork(unsigned workers, const std::function<void(unsigned worker)>& body);

// Work run on one of the same kept threads while the caller goes on (right
// away on the caller's thread, in wait(), when none can be had); the work
// runs under the caller's budget. wait(), or the end of the handle's life,
// returns once the work is done. The work must not throw.
class BackgroundWork {
public:
    explicit BackgroundWork(std::function<void()> work);
    ~BackgroundWork();
    void wait();

private:
    struct Handed;
    std::unique_ptr<Handed> handed;
};

// The threads work on this thread's behalf may use: one per core unless a
// WorkBudget in force on this thread says otherwise.
unsigned workBudget();

// Holds this thread's budget to `threads` (at least 1) while it lives.
class WorkBudget {
public:
    explicit WorkBudget(unsigned threads);
    ~WorkBudget();
    WorkBudget(const WorkBudget&) = delete;
    WorkBudget& operator=(const WorkBudget&) = delete;

private:
    unsigned previous;
};
