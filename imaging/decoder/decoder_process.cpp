// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decoder/decoder_process.h"

#include "imaging/decoder/decoder_protocol.h"
#include "imaging/decoder/decoder_spawn.h"
#include "imaging/decoder/image_io.h"
#include "imaging/decoding/picture_metadata.h"
#include "imaging/pixels/messages.h"
#include "imaging/pixels/pixel_memory.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using decoder::DecodeReply;
using decoder::DecodeRequest;
using decoder::ReplyKind;

// How one request went, seen from the program.
enum class Exchange {
    Done,   // the decoder answered; it may serve again if the picture decoded
    Retry,  // no fault of the picture: the decoder was gone before it got the request
    Broken, // the decoder died, overran its time or broke the protocol
};

class DecoderProcess {
public:
    static std::unique_ptr<DecoderProcess> start(const DecoderSetup& setup,
                                                 std::uint64_t memoryLimit, QString* error)
    {
        SpawnedDecoder spawned;
        if (!spawnDecoder(setup.program, memoryLimit, &spawned, error))
            return nullptr;
        return std::unique_ptr<DecoderProcess>(
            new DecoderProcess(setup, memoryLimit, spawned.pid, spawned.socket));
    }

    ~DecoderProcess() { end(); }

    // An idle decoder's end: its socket closes, which it takes as the end of
    // its work; force follows only if it is not gone within half a second.
    void finish()
    {
        if (socket >= 0) {
            close(socket);
            socket = -1;
        }
        for (int waited = 0; pid > 0 && waited < 500; waited += 2) {
            if (waitpid(pid, nullptr, WNOHANG) == pid) {
                pid = -1;
                break;
            }
            usleep(2000);
        }
        end();
    }
    DecoderProcess(const DecoderProcess&) = delete;
    DecoderProcess& operator=(const DecoderProcess&) = delete;

    bool serves(const DecoderSetup& setup, std::uint64_t limit) const
    {
        return setup.generation == generation && setup.program == program && limit == memoryLimit;
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

    Exchange decode(const DecodeLimits& limits, const DecoderJob& job, BitmapPtr& bitmap,
                    QString* reason)
    {
        const Clock::time_point start = Clock::now();
        timeLimit = decodeTimeLimit(int(limits.timeLimitSeconds), job.fileBytes, 0);
        Clock::time_point deadline = start + std::chrono::seconds(decodeWallBackstop(timeLimit));
        DecodeRequest request;
        request.limits = limits;
        request.nameLength =
            std::uint32_t(std::min<qsizetype>(job.name.size(), decoder::maxNameLength));
        PixelMemory& memory = job.memory ? *job.memory : own;
        const int pictureFile = memory.pictureFile(job.keep);
        if (pictureFile < 0) {
            *reason = QStringLiteral("No memory for the picture: %1").arg(systemError(errno));
            return Exchange::Done;
        }
        if (!sendRequest(request, job.file, pictureFile) ||
            !decoder::sendAll(socket, job.name.constData(), request.nameLength)) {
            end();
            return Exchange::Retry;
        }

        DecodeReply reply;
        for (;;) {
            if (!receive(&reply, sizeof reply, deadline, reason))
                return Exchange::Broken;
            if (reply.magic != decoder::replyMagic || reply.version != decoder::protocolVersion ||
                reply.messageLength > decoder::maxMessageLength ||
                reply.profileLength > maxProfileLength)
                return malformed(reason);
            if (reply.kind != ReplyKind::Header)
                break;
            timeLimit =
                decodeTimeLimit(int(limits.timeLimitSeconds), job.fileBytes,
                                std::uint64_t(reply.width) * reply.height,
                                reply.density == PixelsPerByte::Unbounded ? PixelsPerByte::Unbounded
                                                                          : PixelsPerByte::Bounded);
            deadline = start + std::chrono::seconds(decodeWallBackstop(timeLimit));
        }
        QByteArray message(int(reply.messageLength), '\0');
        QByteArray profile(int(reply.profileLength), '\0');
        if (!receive(message.data(), size_t(message.size()), deadline, reason) ||
            !receive(profile.data(), size_t(profile.size()), deadline, reason))
            return Exchange::Broken;
        const QString said = QString::fromUtf8(message);
        // The profile is checked as the pixels are: it goes into every file written from them.
        if ((!profile.isEmpty() && reply.failure != DecodeFailure::None) ||
            (!profile.isEmpty() && !isCarriableProfile(profile)))
            return malformed(reason);

        if (reply.kind != ReplyKind::Answer)
            return malformed(reason);
        if (reply.failure != DecodeFailure::None) {
            *reason = said.isEmpty() ? QStringLiteral("The picture could not be decoded") : said;
            return Exchange::Done;
        }

        // The decoder is not trusted further than the readers it runs: the
        // size it announces is checked before anything is allocated for it.
        if (reply.width == 0 || reply.height == 0 ||
            (reply.bitsPerPixel != 24 && reply.bitsPerPixel != 32) ||
            !sizeRefusal(reply.width, reply.height, reply.bitsPerPixel, limits).isEmpty())
            return malformed(reason);

        // The memory file cannot shrink, so every byte up to the size seen
        // here stays readable.
        errno = 0;
        BitmapPtr received(memory.pictureBitmap(pictureFile, int(reply.width), int(reply.height),
                                                int(reply.bitsPerPixel)));
        if (!received)
            // A memory file too small for the picture, or no address space left to map it in.
            return errno == ENOMEM ? broken(reason, memoryShortage(reply.width, reply.height,
                                                                   reply.bitsPerPixel))
                                   : malformed(reason);
        if (!job.memory) {
            lastPictureBytes = std::max(lastPictureBytes,
                                        size_t(FreeImage_GetPitch(received.get())) * reply.height);
            received.reset(FreeImage_Clone(received.get()));
            if (!received)
                return broken(reason,
                              memoryShortage(reply.width, reply.height, reply.bitsPerPixel));
        }
        FreeImage_SetDotsPerMeterX(received.get(), reply.dotsPerMeterX);
        FreeImage_SetDotsPerMeterY(received.get(), reply.dotsPerMeterY);
        if (!profile.isEmpty())
            FreeImage_CreateICCProfile(received.get(), profile.data(), long(profile.size()));
        const SourceQuality& source = reply.source;
        if (source.lossy > 1 || source.quality > 100 || source.progressive > 1 ||
            source.sampling > ChromaSampling::Quarter)
            return malformed(reason);
        recordSourceQuality(received.get(), source);
        recordDamage(received.get(), said);
        bitmap = std::move(received);
        return Exchange::Done;
    }

private:
    DecoderProcess(const DecoderSetup& setup, std::uint64_t limit, pid_t process, int channel)
        : program(setup.program), memoryLimit(limit), generation(setup.generation), pid(process),
          socket(channel)
    {
    }

    // Ends the process for good and tells how it ended, -1 if it had already been reaped.
    int end()
    {
        if (socket >= 0) {
            close(socket);
            socket = -1;
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

    Exchange malformed(QString* reason)
    {
        return broken(reason, QStringLiteral("The picture decoder gave a malformed answer"));
    }

    // The decoder's end, in words; called once its socket has closed.
    QString howItEnded()
    {
        // A process that closed its socket is ending; the kill only makes
        // sure of that and does not change the status of one that has.
        const int status = end();
        if (status == -1)
            return QStringLiteral("The picture decoder stopped unexpectedly");
        if (WIFSIGNALED(status)) {
            const int signal = WTERMSIG(status);
            if (signal == SIGPROF || signal == SIGALRM || signal == SIGXCPU)
                return timeOut();
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

    QString timeOut() const
    {
        return QStringLiteral("Decoding took longer than %1 s and was stopped").arg(timeLimit);
    }

    bool sendRequest(const DecodeRequest& request, int file, int pictureFile)
    {
        iovec part{const_cast<DecodeRequest*>(&request), sizeof request};
        const int files[2] = {file, pictureFile};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof files)] = {};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof files);
        std::memcpy(CMSG_DATA(header), files, sizeof files);
        ssize_t sent;
        do
            sent = sendmsg(socket, &message, MSG_NOSIGNAL);
        while (sent < 0 && errno == EINTR);
        if (sent <= 0)
            return false;
        // The descriptor went with the first byte; the rest may follow alone.
        return decoder::sendAll(socket, reinterpret_cast<const char*>(&request) + sent,
                                sizeof request - size_t(sent));
    }

    // Exactly `size` bytes from the socket before `deadline`. On failure the
    // process is ended and `*reason` says why.
    bool receive(void* data, size_t size, Clock::time_point deadline, QString* reason)
    {
        char* bytes = static_cast<char*>(data);
        while (size > 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                end();
                return failWith(reason, timeOut());
            }
            pollfd watch{socket, POLLIN, 0};
            const int ready = poll(&watch, 1, int(std::min<long long>(left.count(), 60000)));
            if (ready < 0 && errno != EINTR) {
                const int error = errno;
                end();
                return failWith(reason, QStringLiteral("Waiting for the picture decoder failed: %1")
                                            .arg(systemError(error)));
            }
            if (ready <= 0)
                continue;
            const ssize_t got = recv(socket, bytes, size, 0);
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (got <= 0)
                return failWith(reason, howItEnded());
            bytes += got;
            size -= size_t(got);
        }
        return true;
    }

public:
    // A decoder's own memory file keeps the largest picture's size while it
    // lives: one that held a large picture is not kept.
    bool holdsLittle() const { return lastPictureBytes <= (64u << 20); }

private:
    const QByteArray program;
    const std::uint64_t memoryLimit;
    const std::uint64_t generation;
    pid_t pid;
    int socket;
    PixelMemory own; // pictures copied out for callers without memory of their own
    size_t lastPictureBytes = 0;
    int timeLimit = 0; // seconds the picture in hand may take
};

// Idle decoders, each of which served its last picture well.
class DecoderPool {
public:
    ~DecoderPool() { endIdle(); }

    std::unique_ptr<DecoderProcess> take(const DecoderSetup& setup, std::uint64_t memoryLimit,
                                         QString* error)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            while (!idle.empty()) {
                std::unique_ptr<DecoderProcess> process = std::move(idle.back());
                idle.pop_back();
                if (process->serves(setup, memoryLimit) && process->alive())
                    return process;
            }
        }
        return DecoderProcess::start(setup, memoryLimit, error);
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
        for (const std::unique_ptr<DecoderProcess>& process : ending)
            process->finish();
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

BitmapPtr decodeInDecoderProcess(const DecoderSetup& setup, const DecodeLimits& limits,
                                 const DecoderJob& job, QString* reason)
{
    // A decoder found dead before it got the request is no fault of this
    // picture: one more, fresh decoder gets it.
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::unique_ptr<DecoderProcess> process = pool().take(setup, limits.decoderMemory, reason);
        if (!process)
            return nullptr;
        BitmapPtr bitmap;
        switch (process->decode(limits, job, bitmap, reason)) {
        case Exchange::Retry:
            *reason = QStringLiteral("The picture decoder could not be reached");
            continue;
        case Exchange::Broken:
            return nullptr;
        case Exchange::Done:
            // A reader that failed may have left its library in a bad state;
            // only a decoder that just succeeded serves again.
            if (bitmap && process->holdsLittle())
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
