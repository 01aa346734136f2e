// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/saving/save_temporaries.h"

#include <QDir>
#include <QFile>

#include <array>
#include <atomic>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Fixed slots, so that a signal handler can read them without a lock: a
// slot's path is complete before it is marked in use.
struct Slot {
    std::atomic<bool> used{false};
    std::atomic<bool> taken{false}; // reserved by a save filling it in
    char path[PATH_MAX];
};
std::array<Slot, 64> slots;

constexpr int interruptions[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction before[std::size(interruptions)];

void onInterruption(int signal, siginfo_t* info, void* context)
{
    removeTemporariesNow();
    for (std::size_t i = 0; i < std::size(interruptions); ++i) {
        if (interruptions[i] != signal)
            continue;
        const struct sigaction& earlier = before[i];
        if ((earlier.sa_flags & SA_SIGINFO) && earlier.sa_sigaction) {
            earlier.sa_sigaction(signal, info, context);
        } else if (!(earlier.sa_flags & SA_SIGINFO) && earlier.sa_handler != SIG_DFL &&
                   earlier.sa_handler != SIG_IGN) {
            earlier.sa_handler(signal);
        } else {
            // Ends as the signal would have ended it.
            ::signal(signal, SIG_DFL);
            ::raise(signal);
        }
    }
}

bool isTemporaryName(const char* name)
{
    static const char head[] = ".glassmere-";
    static const char tail[] = ".tmp";
    if (std::strlen(name) != sizeof head - 1 + 8 + sizeof tail - 1 ||
        std::strncmp(name, head, sizeof head - 1) != 0 ||
        std::strcmp(name + sizeof head - 1 + 8, tail) != 0)
        return false;
    for (int i = 0; i < 8; ++i) {
        const char c = name[sizeof head - 1 + i];
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

} // namespace

void removeTemporariesWhenInterrupted()
{
    static std::mutex mutex;
    static bool atExit = false;
    const std::lock_guard<std::mutex> lock(mutex);
    for (std::size_t i = 0; i < std::size(interruptions); ++i) {
        struct sigaction current {};
        sigaction(interruptions[i], nullptr, &current);
        if ((current.sa_flags & SA_SIGINFO) && current.sa_sigaction == onInterruption)
            continue; // already there
        if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN)
            continue; // nohup's and a shell's background jobs' ignored signals stay so
        before[i] = current;
        struct sigaction removal {};
        removal.sa_sigaction = onInterruption;
        removal.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&removal.sa_mask);
        sigaction(interruptions[i], &removal, nullptr);
    }
    if (!atExit)
        std::atexit(removeTemporariesNow);
    atExit = true;
}

void removeTemporariesNow()
{
    for (Slot& slot : slots) {
        if (slot.used.exchange(false))
            ::unlink(slot.path);
    }
}

HeldTemporary::HeldTemporary(const QByteArray& path, int file)
{
    lock = ::dup(file);
    if (lock >= 0)
        ::fcntl(lock, F_SETFD, FD_CLOEXEC);
    ::flock(file, LOCK_EX);
    if (path.size() >= PATH_MAX)
        return;
    for (int i = 0; i < int(slots.size()); ++i) {
        if (slots[size_t(i)].taken.exchange(true))
            continue;
        std::memcpy(slots[size_t(i)].path, path.constData(), size_t(path.size()) + 1);
        slots[size_t(i)].used.store(true);
        slot = i;
        return;
    }
}

HeldTemporary::~HeldTemporary()
{
    if (slot >= 0) {
        slots[size_t(slot)].used.store(false);
        slots[size_t(slot)].taken.store(false);
    }
    if (lock >= 0)
        ::close(lock);
}

void removeAbandonedTemporaries(const QByteArray& folder)
{
    DIR* listing = ::opendir(folder.constData());
    if (!listing)
        return;
    const int folderFile = ::dirfd(listing);
    while (const dirent* entry = ::readdir(listing)) {
        if (!isTemporaryName(entry->d_name))
            continue;
        const int file =
            ::openat(folderFile, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (file < 0)
            continue;
        struct stat info;
        // Held by nobody: its save ended without removing it.
        if (::fstat(file, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
            ::flock(file, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(folderFile, entry->d_name, 0);
        ::close(file);
    }
    ::closedir(listing);
}
