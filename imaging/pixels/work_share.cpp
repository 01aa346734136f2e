// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/pixels/work_share.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

thread_local unsigned budget = 0; // 0: one thread per core

// One call's bodies still to be handed out.
struct Share {
    const std::function<void(unsigned)>* body;
    unsigned next = 1;    // the next worker index handed out
    unsigned workers = 0; // one past the last
    unsigned running = 0; // bodies running on kept threads
};

// The kept threads, waiting for shares; leaked at exit, with the threads.
struct Crew {
    std::mutex mutex;
    std::condition_variable work;
    std::condition_variable done;
    std::deque<Share*> shares;
    unsigned idle = 0;
    unsigned threads = 0;

    void serve()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            work.wait(lock, [this] { return !shares.empty(); });
            Share* share = shares.front();
            const unsigned worker = share->next++;
            if (share->next == share->workers)
                shares.pop_front();
            ++share->running;
            --idle;
            lock.unlock();
            (*share->body)(worker);
            lock.lock();
            ++idle;
            if (--share->running == 0)
                done.notify_all();
        }
    }
};

Crew& crew()
{
    static Crew* kept = new Crew;
    return *kept;
}

// More threads than this are never started, whatever the budgets ask.
constexpr unsigned mostThreads = 64;

} // namespace

unsigned workBudget()
{
    return budget > 0 ? budget : std::max(1u, std::thread::hardware_concurrency());
}

WorkBudget::WorkBudget(unsigned threads) : previous(budget)
{
    budget = std::max(1u, threads);
}

WorkBudget::~WorkBudget()
{
    budget = previous;
}

void shareWork(unsigned workers, const std::function<void(unsigned)>& body)
{
    if (workers <= 1) {
        body(0);
        return;
    }
    Crew& kept = crew();
    Share share{&body, 1, workers, 0};
    {
        const std::lock_guard<std::mutex> lock(kept.mutex);
        kept.shares.push_back(&share);
        for (unsigned wanted = workers - 1; kept.idle < wanted && kept.threads < mostThreads;) {
            try {
                std::thread([&kept] { kept.serve(); }).detach();
            } catch (const std::system_error&) {
                break;
            }
            ++kept.idle;
            ++kept.threads;
        }
    }
    kept.work.notify_all();
    body(0);
    std::unique_lock<std::mutex> lock(kept.mutex);
    // Bodies not yet started are not needed any more: the work is taken.
    kept.shares.erase(std::remove(kept.shares.begin(), kept.shares.end(), &share),
                      kept.shares.end());
    kept.done.wait(lock, [&share] { return share.running == 0; });
}
