#include "decoder_process.h"

#include "decoder_protocol.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using decoder::DecodeReply;
using decoder::DecodeRequest;
using decoder::DecodeStatus;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// How one request went, seen from the program.
enum class Exchange {
    Done,       // the decoder answered; it may serve again if the picture decoded
    NotStarted, // the decoder was gone before it got the request
    Broken,     // the decoder died, overran its time or broke the protocol
};

class DecoderProcess {
public:
    static std::unique_ptr<DecoderProcess> start(const DecoderSetup& setup, QString* error)
    {
        int ends[2];
        int pixels[2];
        // Close-on-exec on every end, so that no other child started meanwhile
        // holds one open; the decoder's copies are its stdin and descriptor 3.
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
            *error = QStringLiteral("Cannot start the picture decoder: %1").arg(systemError(errno));
            return nullptr;
        }
        if (pipe2(pixels, O_CLOEXEC) != 0) {
            *error = QStringLiteral("Cannot start the picture decoder: %1").arg(systemError(errno));
            close(ends[0]);
            close(ends[1]);
            return nullptr;
        }
        // A megabyte per wake-up instead of 64 KB; the most an unprivileged
        // process may ask for, and no harm if refused.
        fcntl(pixels[0], F_SETPIPE_SZ, 1 << 20);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, pixels[1], decoder::pixelPipe);
        // The readers' own chatter on a damaged file ("libpng error: ...") would
        // land in glassmere-cli's report and output; what matters comes back
        // as the failure's reason.
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

        // Signal handlers and masks of the program (ignored SIGPIPE, blocked
        // signals of Qt's threads) are not the decoder's business.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t all;
        sigset_t none;
        sigfillset(&all);
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

        const QByteArray limit = QByteArray::number(qulonglong(setup.memoryLimit));
        QByteArray program = setup.program;
        char serve[] = "--serve";
        char memoryOption[] = "--memory-limit";
        QByteArray limitText = limit;
        char* arguments[] = {program.data(), serve, memoryOption, limitText.data(), nullptr};
        pid_t pid = -1;
        const int spawned =
            posix_spawn(&pid, program.constData(), &actions, &attributes, arguments, environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        close(ends[1]);
        close(pixels[1]); // the decoder's end alone: its death ends the pipe
        if (spawned != 0) {
            close(ends[0]);
            close(pixels[0]);
            *error = QStringLiteral("Cannot start the picture decoder %1: %2")
                         .arg(QString::fromLocal8Bit(setup.program), systemError(spawned));
            return nullptr;
        }
        return std::unique_ptr<DecoderProcess>(new DecoderProcess(setup, pid, ends[0], pixels[0]));
    }

    ~DecoderProcess() { end(); }
    DecoderProcess(const DecoderProcess&) = delete;
    DecoderProcess& operator=(const DecoderProcess&) = delete;

    bool serves(const DecoderSetup& setup) const
    {
        return setup.generation == generation && setup.program == program &&
               setup.memoryLimit == memoryLimit;
    }

    // False once the process has ended (it is then reaped).
    bool alive()
    {
        if (pid <= 0)
            return false;
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == 0)
            return true;
        pid = -1;
        return false;
    }

    Exchange decode(const DecoderJob& job, BitmapPtr& bitmap, QString* reason)
    {
        const Clock::time_point deadline =
            Clock::now() + std::chrono::seconds(job.timeLimitSeconds);
        DecodeRequest request;
        request.nameLength =
            std::uint32_t(std::min<qsizetype>(job.name.size(), decoder::maxNameLength));
        request.maxPixels = job.limits.maxPixels;
        request.maxDecodedBytes = job.limits.maxDecodedBytes;
        request.timeLimitSeconds = std::uint32_t(job.timeLimitSeconds);
        if (!sendRequest(request, job.file) || !sendAll(job.name.constData(), request.nameLength)) {
            end();
            return Exchange::NotStarted;
        }

        DecodeReply reply;
        if (!receive(&reply, sizeof reply, deadline, job, reason))
            return Exchange::Broken;
        if (reply.magic != decoder::replyMagic || reply.messageLength > decoder::maxMessageLength)
            return broken(reason, QStringLiteral("The picture decoder gave a malformed answer"));
        QByteArray message(int(reply.messageLength), '\0');
        if (!receive(message.data(), size_t(message.size()), deadline, job, reason))
            return Exchange::Broken;
        const QString said = QString::fromUtf8(message);

        if (reply.status != DecodeStatus::Decoded) {
            *reason = said.isEmpty() ? QStringLiteral("The picture could not be decoded") : said;
            return Exchange::Done;
        }

        // The decoder is not trusted further than the readers it runs: the
        // size it announces is checked before anything is allocated for it.
        const std::uint64_t pixels = std::uint64_t(reply.width) * reply.height;
        if (reply.width == 0 || reply.height == 0 ||
            (reply.bitsPerPixel != 24 && reply.bitsPerPixel != 32) ||
            pixels > job.limits.maxPixels || reply.width > 0x7fffffffu ||
            reply.height > 0x7fffffffu)
            return broken(reason, QStringLiteral("The picture decoder gave a malformed answer"));

        BitmapPtr received(
            FreeImage_Allocate(int(reply.width), int(reply.height), int(reply.bitsPerPixel)));
        if (!received)
            return broken(reason, QStringLiteral("Not enough memory for a %1 × %2 picture")
                                      .arg(reply.width)
                                      .arg(reply.height));
        if (!receivePixels(received.get(), deadline, job, reason))
            return Exchange::Broken;
        if (!sendAll(&decoder::pixelsTaken, 1))
            return broken(reason, QStringLiteral("The picture decoder could not be reached"));
        FreeImage_SetDotsPerMeterX(received.get(), reply.dotsPerMeterX);
        FreeImage_SetDotsPerMeterY(received.get(), reply.dotsPerMeterY);
        bitmap = std::move(received);
        return Exchange::Done;
    }

private:
    DecoderProcess(const DecoderSetup& setup, pid_t process, int channel, int pipeEnd)
        : program(setup.program), memoryLimit(setup.memoryLimit), generation(setup.generation),
          pid(process), socket(channel), pixelPipe(pipeEnd)
    {
    }

    // Ends the process for good and tells how it ended, -1 if it had already been reaped.
    int end()
    {
        if (socket >= 0) {
            close(socket);
            socket = -1;
        }
        if (pixelPipe >= 0) {
            close(pixelPipe);
            pixelPipe = -1;
        }
        int status = -1;
        if (pid > 0) {
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            pid = -1;
        }
        return status;
    }

    Exchange broken(QString* reason, const QString& why)
    {
        end();
        *reason = why;
        return Exchange::Broken;
    }

    // The decoder's end, in words; called once its socket has closed.
    QString howItEnded(const DecoderJob& job)
    {
        // A process that closed its socket is ending; the kill only makes
        // sure of that and does not change the status of one that has.
        const int status = end();
        if (status == -1)
            return QStringLiteral("The picture decoder stopped unexpectedly");
        if (WIFSIGNALED(status)) {
            const int signal = WTERMSIG(status);
            if (signal == SIGALRM || signal == SIGXCPU)
                return timeOut(job);
            if (signal == SIGKILL)
                return QStringLiteral("The picture decoder was killed (signal 9), most likely "
                                      "for lack of memory");
            return QStringLiteral("The picture decoder crashed (signal %1, %2)")
                .arg(signal)
                .arg(QString::fromLocal8Bit(strsignal(signal)));
        }
        if (WIFEXITED(status))
            return QStringLiteral("The picture decoder stopped unexpectedly (exit code %1)")
                .arg(WEXITSTATUS(status));
        return QStringLiteral("The picture decoder stopped unexpectedly");
    }

    static QString timeOut(const DecoderJob& job)
    {
        return QStringLiteral("Decoding took longer than %1 s and was stopped")
            .arg(job.timeLimitSeconds);
    }

    bool sendAll(const char* data, size_t size)
    {
        while (size > 0) {
            const ssize_t sent = send(socket, data, size, MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent <= 0)
                return false;
            data += sent;
            size -= size_t(sent);
        }
        return true;
    }

    bool sendRequest(const DecodeRequest& request, int file)
    {
        iovec part{const_cast<DecodeRequest*>(&request), sizeof request};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &file, sizeof file);
        ssize_t sent;
        do
            sent = sendmsg(socket, &message, MSG_NOSIGNAL);
        while (sent < 0 && errno == EINTR);
        if (sent <= 0)
            return false;
        // The descriptor went with the first byte; the rest may follow alone.
        return sendAll(reinterpret_cast<const char*>(&request) + sent,
                       sizeof request - size_t(sent));
    }

    // Exactly `size` bytes from the socket before `deadline`. On failure the
    // process is ended and `*reason` says why.
    bool receive(void* data, size_t size, Clock::time_point deadline, const DecoderJob& job,
                 QString* reason)
    {
        iovec part{data, size};
        return receiveInto(socket, &part, 1, deadline, job, reason);
    }

    // Fills `parts` from `from` (the socket or the pixel pipe) before `deadline`.
    bool receiveInto(int from, iovec* parts, size_t count, Clock::time_point deadline,
                     const DecoderJob& job, QString* reason)
    {
        while (count > 0) {
            if (parts->iov_len == 0) {
                ++parts;
                --count;
                continue;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                end();
                *reason = timeOut(job);
                return false;
            }
            pollfd watch{from, POLLIN, 0};
            const int ready = poll(&watch, 1, int(std::min<long long>(left.count(), 60000)));
            if (ready < 0 && errno != EINTR) {
                const int error = errno;
                end();
                *reason = QStringLiteral("Waiting for the picture decoder failed: %1")
                              .arg(systemError(error));
                return false;
            }
            if (ready <= 0)
                continue;
            const ssize_t got = readv(from, parts, int(std::min<size_t>(count, IOV_MAX)));
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (got <= 0) {
                *reason = howItEnded(job);
                return false;
            }
            size_t done = size_t(got);
            while (done > 0 && done >= parts->iov_len) {
                done -= parts->iov_len;
                ++parts;
                --count;
            }
            if (done > 0) {
                parts->iov_base = static_cast<char*>(parts->iov_base) + done;
                parts->iov_len -= done;
            }
        }
        return true;
    }

    // The scan lines come without padding, straight into the bitmap's lines.
    bool receivePixels(FIBITMAP* dib, Clock::time_point deadline, const DecoderJob& job,
                       QString* reason)
    {
        const unsigned height = FreeImage_GetHeight(dib);
        const size_t line = FreeImage_GetLine(dib);
        const size_t pitch = FreeImage_GetPitch(dib);
        std::vector<iovec> parts;
        if (line == pitch) {
            parts.push_back({FreeImage_GetBits(dib), pitch * height});
        } else {
            parts.reserve(height);
            for (unsigned y = 0; y < height; ++y)
                parts.push_back({FreeImage_GetScanLine(dib, int(y)), line});
        }
        return receiveInto(pixelPipe, parts.data(), parts.size(), deadline, job, reason);
    }

    const QByteArray program;
    const std::uint64_t memoryLimit;
    const std::uint64_t generation;
    pid_t pid;
    int socket;
    int pixelPipe; // read end of the pixel pipe
};

// Idle decoders, each of which served its last picture well.
class DecoderPool {
public:
    ~DecoderPool() { endIdle(); }

    std::unique_ptr<DecoderProcess> take(const DecoderSetup& setup, QString* error)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            while (!idle.empty()) {
                std::unique_ptr<DecoderProcess> process = std::move(idle.back());
                idle.pop_back();
                if (process->serves(setup) && process->alive())
                    return process;
            }
        }
        return DecoderProcess::start(setup, error);
    }

    void give(std::unique_ptr<DecoderProcess> process)
    {
        std::lock_guard<std::mutex> lock(mutex);
        // Decoders come back only from calls that were running at once.
        if (idle.size() < maxIdle)
            idle.push_back(std::move(process));
    }

    void endIdle()
    {
        std::vector<std::unique_ptr<DecoderProcess>> ending;
        {
            std::lock_guard<std::mutex> lock(mutex);
            ending.swap(idle);
        }
    }

private:
    static constexpr size_t maxIdle = 16;
    std::mutex mutex;
    std::vector<std::unique_ptr<DecoderProcess>> idle;
};

DecoderPool& pool()
{
    static DecoderPool decoders;
    return decoders;
}

} // namespace

BitmapPtr decodeInDecoderProcess(const DecoderSetup& setup, const DecoderJob& job, QString* reason)
{
    // A decoder found dead before it got the request is no fault of this
    // picture: one more, fresh decoder gets it.
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::unique_ptr<DecoderProcess> process = pool().take(setup, reason);
        if (!process)
            return nullptr;
        BitmapPtr bitmap;
        switch (process->decode(job, bitmap, reason)) {
        case Exchange::NotStarted:
            *reason = QStringLiteral("The picture decoder could not be reached");
            continue;
        case Exchange::Broken:
            return nullptr;
        case Exchange::Done:
            // A reader that failed may have left its library in a bad state;
            // only a decoder that just succeeded serves again.
            if (bitmap)
                pool().give(std::move(process));
            return bitmap;
        }
    }
    return nullptr;
}

void endIdleDecoders()
{
    pool().endIdle();
}
