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

// More threads than this are never started, whatever the budgets ask.
constexpr unsigned mostThreads = 64;

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

    // Offers the share's bodies 1..workers-1 to the kept threads, starting
    // threads as needed.
    void hand(Share* share)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            shares.push_back(share);
            for (unsigned wanted = share->workers - 1; idle < wanted && threads < mostThreads;) {
                try {
                    std::thread([this] { serve(); }).detach();
                } catch (const std::system_error&) {
                    break;
                }
                ++idle;
                ++threads;
            }
        }
        work.notify_all();
    }

    // Takes back the bodies no thread has begun and waits for those begun;
    // whether any was begun.
    bool withdraw(Share* share)
    {
        std::unique_lock<std::mutex> lock(mutex);
        shares.erase(std::remove(shares.begin(), shares.end(), share), shares.end());
        done.wait(lock, [share] { return share->running == 0; });
        return share->next > 1;
    }
};

Crew& crew()
{
    static Crew* kept = new Crew;
    return *kept;
}

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
    Share share{&body, 1, workers};
    crew().hand(&share);
    body(0);
    // Bodies not yet started are not needed any more: the work is taken.
    crew().withdraw(&share);
}

struct BackgroundWork::Handed {
    std::function<void(unsigned)> body;
    // Worker 0 is not handed out: a share of two gives the kept thread worker 1.
    Share share{&body, 1, 2};
};

BackgroundWork::BackgroundWork(std::function<void()> work) : handed(new Handed)
{
    handed->body = [work = std::move(work), threads = workBudget()](unsigned) {
        const WorkBudget callers(threads);
        work();
    };
    crew().hand(&handed->share);
}

BackgroundWork::~BackgroundWork()
{
    wait();
}

void BackgroundWork::wait()
{
    if (!handed)
        return;
    if (!crew().withdraw(&handed->share))
        handed->body(0); // no kept thread took it: done here
    handed.reset();
}
