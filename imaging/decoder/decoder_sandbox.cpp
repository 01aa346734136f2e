// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decoder/decoder_sandbox.h"

#include "imaging/pixels/messages.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString said(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Names of the calls, looked up before the filter is on: the handler must not allocate.
constexpr int namedCalls = 512;
std::array<const char*, namedCalls> callNames{};
RefusedCall reportRefusal = nullptr;

void appendNumber(char* text, size_t room, unsigned long number)
{
    char digits[24];
    int count = 0;
    do {
        digits[count++] = char('0' + number % 10);
        number /= 10;
    } while (number != 0 && count < int(sizeof digits));
    size_t at = std::strlen(text);
    while (count > 0 && at + 1 < room)
        text[at++] = digits[--count];
    text[at] = '\0';
}

void onRefusedCall(int, siginfo_t* info, void*)
{
    static char unnamed[40];
    const int call = info->si_syscall;
    const char* name = call >= 0 && call < namedCalls ? callNames[size_t(call)] : nullptr;
    if (!name) {
        std::strcpy(unnamed, "system call ");
        appendNumber(unnamed, sizeof unnamed, unsigned(call));
        name = unnamed;
    }
    if (reportRefusal) {
        reportRefusal(name);
    } else {
        const char prefix[] = "glassmere-decoder: refused call ";
        [[maybe_unused]] ssize_t ignored = write(STDERR_FILENO, prefix, sizeof prefix - 1);
        ignored = write(STDERR_FILENO, name, std::strlen(name));
        ignored = write(STDERR_FILENO, "\n", 1);
    }
    _exit(70);
}

struct Filter {
    scmp_filter_ctx context = seccomp_init(SCMP_ACT_TRAP);
    int failed = 0; // the first error of a rule the kernel's architecture has

    ~Filter()
    {
        if (context)
            seccomp_release(context);
    }

    // A call this architecture does not have is left out, not an error.
    void allow(int call, std::initializer_list<scmp_arg_cmp> conditions = {})
    {
        add(SCMP_ACT_ALLOW, call, conditions);
    }
    void add(std::uint32_t action, int call, std::initializer_list<scmp_arg_cmp> conditions = {})
    {
        if (call < 0)
            return;
        const int result = seccomp_rule_add_array(context, action, call,
                                                  unsigned(conditions.size()), conditions.begin());
        if (result != 0 && failed == 0)
            failed = result;
    }
};

void allowDecoding(Filter& filter)
{
    // The descriptors it holds: its socket, the memory file, the picture.
    for (const int call :
         {SCMP_SYS(read), SCMP_SYS(readv), SCMP_SYS(pread64), SCMP_SYS(preadv), SCMP_SYS(write),
          SCMP_SYS(writev), SCMP_SYS(pwrite64), SCMP_SYS(lseek), SCMP_SYS(close), SCMP_SYS(fstat),
          SCMP_SYS(ftruncate), SCMP_SYS(fcntl), SCMP_SYS(recvmsg), SCMP_SYS(recvfrom),
          SCMP_SYS(sendmsg), SCMP_SYS(sendto), SCMP_SYS(poll), SCMP_SYS(ppoll)})
        filter.allow(call);
    // The C library's fstat is fstatat on the descriptor itself, with an empty path.
    filter.allow(SCMP_SYS(newfstatat), {SCMP_A3(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH)});
    // A path is neither opened nor looked at. These fail cleanly (EACCES)
    // instead of stopping the decode: libraries that look for a file of
    // their own (the C library counting processors in /sys, a locale) go on
    // without it, and a reader gets nothing either way.
    filter.add(SCMP_ACT_ERRNO(EACCES), SCMP_SYS(newfstatat),
               {SCMP_A3(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, 0)});
    for (const int call :
         {SCMP_SYS(open), SCMP_SYS(openat), SCMP_SYS(openat2), SCMP_SYS(creat), SCMP_SYS(stat),
          SCMP_SYS(lstat), SCMP_SYS(statx), SCMP_SYS(access), SCMP_SYS(faccessat),
          SCMP_SYS(faccessat2), SCMP_SYS(readlink), SCMP_SYS(readlinkat)})
        filter.add(SCMP_ACT_ERRNO(EACCES), call);
    // Whether standard error is a terminal, as stdio asks.
    filter.allow(SCMP_SYS(ioctl), {SCMP_A1(SCMP_CMP_EQ, TCGETS)});

    // Memory, never executable.
    for (const int call : {SCMP_SYS(mmap), SCMP_SYS(mprotect)})
        filter.allow(call, {SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)});
    for (const int call :
         {SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(madvise), SCMP_SYS(brk), SCMP_SYS(mincore),
          SCMP_SYS(membarrier), SCMP_SYS(memfd_create), SCMP_SYS(fallocate)})
        filter.allow(call);

    // Threads, and nothing else clone can make. clone3 hides its flags in
    // memory the filter cannot read: "not here" sends the C library to clone.
    filter.allow(SCMP_SYS(clone), {SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD)});
    filter.add(SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3));
    for (const int call :
         {SCMP_SYS(futex), SCMP_SYS(set_robust_list), SCMP_SYS(get_robust_list), SCMP_SYS(rseq),
          SCMP_SYS(set_tid_address), SCMP_SYS(sched_yield), SCMP_SYS(sched_getaffinity),
          SCMP_SYS(getpid), SCMP_SYS(gettid), SCMP_SYS(getuid), SCMP_SYS(geteuid), SCMP_SYS(getgid),
          SCMP_SYS(getegid), SCMP_SYS(sysinfo), SCMP_SYS(getrandom), SCMP_SYS(exit),
          SCMP_SYS(exit_group), SCMP_SYS(restart_syscall)})
        filter.allow(call);
    // A thread may name itself (dav1d names its workers); no other prctl.
    filter.allow(SCMP_SYS(prctl), {SCMP_A0(SCMP_CMP_EQ, PR_SET_NAME)});
    filter.allow(SCMP_SYS(prctl), {SCMP_A0(SCMP_CMP_EQ, PR_GET_NAME)});
    // Signals to itself only (abort, a thread's own), and the handlers' bookkeeping.
    filter.allow(SCMP_SYS(tgkill), {SCMP_A0(SCMP_CMP_EQ, scmp_datum_t(getpid()))});
    for (const int call : {SCMP_SYS(rt_sigaction), SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigreturn),
                           SCMP_SYS(sigaltstack)})
        filter.allow(call);

    // Time: clocks, sleeps, and the decoder's own timers.
    for (const int call :
         {SCMP_SYS(clock_gettime), SCMP_SYS(clock_getres), SCMP_SYS(gettimeofday), SCMP_SYS(time),
          SCMP_SYS(nanosleep), SCMP_SYS(clock_nanosleep), SCMP_SYS(alarm), SCMP_SYS(setitimer),
          SCMP_SYS(getitimer), SCMP_SYS(getrusage), SCMP_SYS(times)})
        filter.allow(call);
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers' runtime tells readable memory by writing it into a pipe.
    filter.allow(SCMP_SYS(pipe));
    filter.allow(SCMP_SYS(pipe2));
#endif
    // Limits may be read, not changed (prlimit64 without a new limit).
    filter.allow(SCMP_SYS(getrlimit));
    filter.allow(SCMP_SYS(prlimit64), {SCMP_A0(SCMP_CMP_EQ, 0), SCMP_A2(SCMP_CMP_EQ, 0)});
}

} // namespace

bool lockInDecoder(RefusedCall refused, QString* error)
{
    for (int call = 0; call < namedCalls; ++call) {
        if (!callNames[size_t(call)])
            callNames[size_t(call)] = seccomp_syscall_resolve_num_arch(SCMP_ARCH_NATIVE, call);
    }
    reportRefusal = refused;
    struct sigaction action {};
    action.sa_sigaction = onRefusedCall;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGSYS, &action, nullptr);
    sigset_t refusals;
    sigemptyset(&refusals);
    sigaddset(&refusals, SIGSYS);
    sigprocmask(SIG_UNBLOCK, &refusals, nullptr);

    Filter filter;
    if (!filter.context)
        return failWith(error,
                        QStringLiteral("The decoder's system call filter could not be made"));
    allowDecoding(filter);
    if (filter.failed != 0)
        return failWith(error,
                        QStringLiteral("The decoder's system call filter could not be made: %1")
                            .arg(said(-filter.failed)));
    // Without it, an unprivileged process may not install a filter.
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        *error =
            QStringLiteral("The decoder could not give up new privileges: %1").arg(said(errno));
        return false;
    }
    const int loaded = seccomp_load(filter.context);
    if (loaded != 0)
        return failWith(
            error, QStringLiteral("The decoder's system call filter could not be installed: %1")
                       .arg(said(-loaded)));
    return true;
}
