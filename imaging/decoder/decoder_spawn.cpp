// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decoder/decoder_spawn.h"

#include "imaging/decoder/decoder_protocol.h"
#include "imaging/pixels/messages.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

extern char** environ;

bool spawnDecoder(const QByteArray& program, std::uint64_t memoryLimit, SpawnedDecoder* decoder,
                  QString* error)
{
    int ends[2];
    // Close-on-exec everywhere, so that no other child started meanwhile
    // holds one open; the decoder's copy is its stdin.
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return failWith(
            error, QStringLiteral("Cannot start the picture decoder: %1").arg(systemError(errno)));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
    // The readers' own chatter on a damaged file ("libpng error: ...") would
    // land in glassmere-cli's report and output; what matters comes back
    // as the failure's reason.
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // Nothing else of the program's: FreeImage opens files without
    // close-on-exec, and a decoder would hold a file being saved meanwhile.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

    // Signal handlers and masks of the program (blocked signals of Qt's
    // threads) are not the decoder's business. A signal the program ignores
    // stays ignored, though: started in the background, the program ignores
    // the terminal's Ctrl+C, and its decoders must not die of it while it
    // goes on. SIGPIPE is the exception: a decoder whose program is gone ends.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction current;
        if (signal != SIGPIPE && sigaction(signal, nullptr, &current) == 0 &&
            !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN)
            sigdelset(&all, signal);
    }
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    const QByteArray limit = QByteArray::number(qulonglong(memoryLimit));
    QByteArray programCopy = program;
    char serve[] = "--serve";
    char memoryOption[] = "--memory-limit";
    QByteArray limitText = limit;
    char* arguments[] = {programCopy.data(), serve, memoryOption, limitText.data(), nullptr};
    // Transparent huge pages for the decoder's large allocations: a
    // picture's bitmap is then faulted in, and read across, a few 2 MB
    // pages at a time instead of thousands of 4 KB ones (a third off the
    // cost of handing a photograph over). Older C libraries ignore it.
    QByteArray tunables = qgetenv("GLIBC_TUNABLES");
    if (!tunables.contains("glibc.malloc.hugetlb"))
        tunables += (tunables.isEmpty() ? "" : ":") + QByteArray("glibc.malloc.hugetlb=1");
    tunables.prepend("GLIBC_TUNABLES=");
    std::vector<char*> environment;
    for (char** variable = environ; *variable; ++variable) {
        if (std::strncmp(*variable, "GLIBC_TUNABLES=", 15) != 0)
            environment.push_back(*variable);
    }
    environment.push_back(tunables.data());
    environment.push_back(nullptr);

    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, programCopy.constData(), &actions, &attributes, arguments,
                                    environment.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(ends[1]);
    if (spawned != 0) {
        close(ends[0]);
        *error = QStringLiteral("Cannot start the picture decoder %1: %2")
                     .arg(QString::fromLocal8Bit(program), systemError(spawned));
        return false;
    }
    decoder->pid = pid;
    decoder->socket = ends[0];
    return true;
}
