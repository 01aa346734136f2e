// SPDX-License-Identifier: GPL-3.0-or-later
// glassmere-decoder: decodes pictures for Glassmere in a process of its own,
// so that a reader that crashes, hangs or allocates without end on a damaged
// file takes down only this process. The program starts it with a socket as
// standard input and sends it one open file after another
// (imaging/decoder_protocol.h); it answers each with the normalised pixels.
//
//   glassmere-decoder --serve [--memory-limit BYTES]   (the program's use)
//   glassmere-decoder --check FILE...                   (by hand: what each file gives)
//
// --unlocked serves without the lock (decoder_sandbox.h), for bench_decoding
// to measure what the lock costs; the program never passes it.

#include "imaging/decoder/allocation_watch.h"
#include "imaging/decoder/decoder_protocol.h"
#include "imaging/decoder/decoder_sandbox.h"
#include "imaging/decoding/heif_reading.h"
#include "imaging/decoding/picture_decoding.h"
#include "imaging/pixels/messages.h"
#include "imaging/pixels/pixel_memory.h"

#include <QByteArray>
#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace {

using decoder::DecodeReply;
using decoder::DecodeRequest;
using decoder::ReplyKind;

constexpr int channel = STDIN_FILENO;

// Room above the start-up size for what comes later besides the picture: Qt's
// image plugins, the readers' own libraries, stacks and allocator slack.
constexpr std::uint64_t addressSpaceSlack = 256ull << 20;

std::uint64_t memoryLimit = 0; // what a picture may use; 0 when not limited
bool unlocked = false;         // --unlocked: bench_decoding's measure of the lock's cost

std::uint64_t addressSpaceInUse()
{
    unsigned long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%lu", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    return std::uint64_t(pages) * std::uint64_t(sysconf(_SC_PAGESIZE));
}

void limitResources()
{
    // A crashing reader must not leave a core file per damaged picture.
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (memoryLimit != 0) {
        const rlim_t total = rlim_t(addressSpaceInUse() + addressSpaceSlack + memoryLimit);
        const rlimit space{total, total};
        setrlimit(RLIMIT_AS, &space);
        // The pixel memory is the only file this process writes; its pages
        // would not count against the address space.
        const rlimit files{rlim_t(memoryLimit), rlim_t(memoryLimit)};
        setrlimit(RLIMIT_FSIZE, &files);
    }
}

bool sendAll(const void* data, size_t size)
{
    return decoder::sendAll(channel, data, size);
}

// The file's bytes, mapped read-only; the program has checked it is a regular file.
struct MappedFile {
    const unsigned char* data = nullptr;
    size_t size = 0;
    int error = 0; // errno of a failed look or mapping

    explicit MappedFile(int file)
    {
        struct stat info;
        if (fstat(file, &info) != 0) {
            error = errno;
            return;
        }
        if (!S_ISREG(info.st_mode)) {
            error = EINVAL;
            return;
        }
        size = size_t(info.st_size);
        if (size == 0)
            return;
        void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file, 0);
        if (mapped == MAP_FAILED) {
            error = errno;
            return;
        }
        data = static_cast<const unsigned char*>(mapped);
    }
    ~MappedFile()
    {
        if (data)
            munmap(const_cast<unsigned char*>(data), size);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
};

DecodeOutcome decodeFile(int file, const QString& name, const DecodeLimits& limits,
                         const HeaderRead& headerRead = {})
{
    const MappedFile mapped(file);
    if (mapped.error != 0) {
        DecodeOutcome outcome;
        outcome.failure = DecodeFailure::Unreadable;
        outcome.reason =
            QStringLiteral("The file could not be read: %1").arg(systemError(mapped.error));
        return outcome;
    }
    return decodePictureData(mapped.data, mapped.size, name, limits, headerRead);
}

// The program's memory file for the picture in hand, mapped while it is
// decoded and handed over; readers that can write their picture straight
// into it get their bitmap there (setPictureDestination).
struct PictureFile {
    int file = -1;
    unsigned char* base = nullptr;
    size_t mapped = 0;

    unsigned char* reserve(size_t size)
    {
        if (size <= mapped)
            return base;
        unmap();
        struct stat info;
        if (fstat(file, &info) != 0)
            return nullptr;
        if (size_t(info.st_size) < size && ftruncate(file, off_t(size)) != 0)
            return nullptr;
        // Populated at once: the picture fills it, and a fault for each page
        // costs more than the kernel's one pass.
        void* view =
            mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, file, 0);
        if (view == MAP_FAILED)
            return nullptr;
        base = static_cast<unsigned char*>(view);
        mapped = size;
        return base;
    }
    void unmap()
    {
        if (base)
            munmap(base, mapped);
        base = nullptr;
        mapped = 0;
    }
    void done()
    {
        unmap();
        if (file >= 0)
            close(file);
        file = -1;
    }
};

PictureFile pictureFile;

size_t standardBytes(int width, int height, int bpp)
{
    return standardPitch(width, bpp) * size_t(height);
}

FIBITMAP* bitmapInPictureFile(int width, int height, int bpp, size_t bytes)
{
    unsigned char* at = pictureFile.reserve(std::max(bytes, standardBytes(width, height, bpp)));
    return at ? standardBitmapOver(at, width, height, bpp) : nullptr;
}

// The scan lines, bottom-up with FreeImage's pitch, into the memory file,
// unless the reader wrote them there itself.
bool placePixels(FIBITMAP* dib)
{
    if (FreeImage_GetBits(dib) == pictureFile.base)
        return true;
    const size_t bytes = standardBytes(int(FreeImage_GetWidth(dib)), int(FreeImage_GetHeight(dib)),
                                       int(FreeImage_GetBPP(dib)));
    if (!pictureFile.reserve(bytes))
        return false;
    std::memcpy(pictureFile.base, FreeImage_GetBits(dib), bytes);
    return true;
}

bool answer(DecodeOutcome& outcome)
{
    FIBITMAP* dib = outcome.failure == DecodeFailure::None ? outcome.bitmap.get() : nullptr;
    if (dib && !placePixels(dib)) {
        const int error = errno;
        outcome.failure = error == ENOMEM ? DecodeFailure::OutOfMemory : DecodeFailure::Unreadable;
        outcome.reason =
            QStringLiteral("The pixels could not be handed over: %1").arg(systemError(error));
        dib = nullptr;
    }
    DecodeReply reply;
    reply.failure = outcome.failure;
    const QString& words = dib ? outcome.damage : outcome.reason;
    const QByteArray message = words.toUtf8().left(int(decoder::maxMessageLength));
    reply.messageLength = std::uint32_t(message.size());
    // Meant for this picture only: a failure sends no profile.
    const QByteArray profile = dib ? outcome.profile : QByteArray();
    reply.profileLength = std::uint32_t(profile.size());
    if (dib) {
        reply.width = FreeImage_GetWidth(dib);
        reply.height = FreeImage_GetHeight(dib);
        reply.bitsPerPixel = FreeImage_GetBPP(dib);
        reply.dotsPerMeterX = FreeImage_GetDotsPerMeterX(dib);
        reply.dotsPerMeterY = FreeImage_GetDotsPerMeterY(dib);
        reply.source = outcome.source;
    }
    // The pixels are in the program's memory file: this process lets it go
    // before it answers, so that an idle decoder holds nothing of the program's.
    outcome.bitmap.reset();
    pictureFile.done();
    return sendAll(&reply, sizeof reply) && sendAll(message.constData(), size_t(message.size())) &&
           sendAll(profile.constData(), size_t(profile.size()));
}

// Tells the program the size the header claims, and holds the decode to its
// time limit in processor time (SIGPROF ends the process), so that a busy
// machine does not cut short a reader that is only waiting for a core. A
// reader that sleeps instead meets the wall-clock backstop (SIGALRM), a
// little after the program stops waiting, should the program be gone.
class Timer {
public:
    Timer(int floor, std::uint64_t bytes) : floorSeconds(floor), fileBytes(bytes) { arm(0); }
    ~Timer()
    {
        alarm(0);
        const itimerval off{};
        setitimer(ITIMER_PROF, &off, nullptr);
    }
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void headerRead(std::uint64_t width, std::uint64_t height, PixelsPerByte density)
    {
        DecodeReply claim;
        claim.kind = ReplyKind::Header;
        claim.failure = DecodeFailure::None;
        claim.width = std::uint32_t(std::min<std::uint64_t>(width, UINT32_MAX));
        claim.height = std::uint32_t(std::min<std::uint64_t>(height, UINT32_MAX));
        claim.density = density;
        sendAll(&claim, sizeof claim); // a closed socket shows on the answer
        arm(std::uint64_t(claim.width) * claim.height, density);
    }

private:
    void arm(std::uint64_t pixels, PixelsPerByte density = PixelsPerByte::Bounded)
    {
        if (floorSeconds <= 0)
            return;
        const int limit = decodeTimeLimit(floorSeconds, fileBytes, pixels, density);
        itimerval processor{};
        processor.it_value.tv_sec = limit;
        setitimer(ITIMER_PROF, &processor, nullptr);
        alarm(unsigned(decodeWallBackstop(limit) + 5));
    }

    const int floorSeconds;
    const std::uint64_t fileBytes;
};

// While a picture is decoded, a call the lock refuses is this picture's
// failure: the answer names the call, and the process ends.
std::atomic<bool> decoding{false};

void answerRefusedCall(const char* call)
{
    if (!decoding.load())
        return;
    static char text[256];
    const char said[] = "The picture's reader was stopped: the decoder does not allow the "
                        "system call ";
    std::strcpy(text, said);
    std::strncat(text, call, sizeof text - sizeof said - 1);
    DecodeReply reply;
    reply.failure = DecodeFailure::Unreadable;
    reply.messageLength = std::uint32_t(std::strlen(text));
    if (sendAll(&reply, sizeof reply))
        sendAll(text, reply.messageLength);
}

int serve()
{
    struct stat info;
    if (fstat(channel, &info) != 0 || !S_ISSOCK(info.st_mode)) {
        std::fprintf(stderr, "glassmere-decoder: --serve needs a socket as standard input; "
                             "Glassmere starts it so\n");
        return decoder::usageExitCode;
    }
    prepareHeifReading(); // its set-up may open files: before any limit
    limitResources();
    setPictureDestination(bitmapInPictureFile);
    // What the readers would otherwise load at their first picture (plugins,
    // tables) is loaded now: from here on, no path can be opened.
    prepareReaders();
    QString notLocked;
    if (!unlocked && !lockInDecoder(answerRefusedCall, &notLocked) && notLocked.isEmpty())
        notLocked = QStringLiteral("The decoder could not lock itself in");
    for (;;) {
        DecodeRequest request;
        int files[2] = {-1, -1};
        int& file = files[0];
        pictureFile.done();
        if (!decoder::receiveAll(channel, &request, sizeof request, files))
            return 0; // the program closed the socket: nothing more to do
        if (request.magic != decoder::requestMagic || request.version != decoder::protocolVersion ||
            request.nameLength > decoder::maxNameLength)
            return decoder::usageExitCode;
        QByteArray name(int(request.nameLength), '\0');
        if (!decoder::receiveAll(channel, name.data(), size_t(name.size()), files))
            return 0;
        pictureFile.file = files[1];

        DecodeOutcome outcome;
        if (!notLocked.isEmpty()) {
            // No picture is read by a decoder that is not locked in.
            outcome.failure = DecodeFailure::Unreadable;
            outcome.reason = notLocked;
            if (file >= 0)
                close(file);
        } else if (file < 0 || pictureFile.file < 0) {
            outcome.failure = DecodeFailure::Unreadable;
            outcome.reason = QStringLiteral("No file was passed to the decoder");
            if (file >= 0)
                close(file);
        } else {
            struct stat fileInfo;
            const std::uint64_t fileBytes =
                fstat(file, &fileInfo) == 0 ? std::uint64_t(fileInfo.st_size) : 0;
            Timer timer(int(request.limits.timeLimitSeconds), fileBytes);
            decoding.store(true);
            forgetFailedAllocations();
            outcome = decodeFile(
                file, QFile::decodeName(name), request.limits,
                [&timer](std::uint64_t width, std::uint64_t height, PixelsPerByte density) {
                    timer.headerRead(width, height, density);
                });
            const bool starved = anAllocationFailed();
            decoding.store(false);
            close(file);
            if (outcome.failure != DecodeFailure::None && starved && memoryLimit != 0) {
                outcome.failure = DecodeFailure::OutOfMemory;
                outcome.reason = QStringLiteral("Decoding exceeds the memory limit of %1")
                                     .arg(describeBytes(memoryLimit)) +
                                 (outcome.reason.isEmpty()
                                      ? QString()
                                      : QStringLiteral(" (") + outcome.reason + QLatin1Char(')'));
            }
        }
        if (!answer(outcome))
            return 0;
    }
}

int check(int argc, char* argv[], int first)
{
    prepareHeifReading();
    limitResources();
    DecodeLimits limits; // by hand, only the memory limit holds
    limits.memoryAvailable = ~std::uint64_t(0);
    limits.decoderMemory = ~std::uint64_t(0);
    // Every file is opened before the decoder locks itself in, as the program's are.
    std::vector<int> files; // a descriptor, or -errno
    for (int i = first; i < argc; ++i) {
        const int file = open(argv[i], O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        files.push_back(file >= 0 ? file : -errno);
    }
    prepareReaders();
    QString notLocked;
    if (!lockInDecoder(nullptr, &notLocked)) {
        std::fprintf(stderr, "glassmere-decoder: %s\n", notLocked.toLocal8Bit().constData());
        return 1;
    }
    int failures = 0;
    for (int i = first; i < argc; ++i) {
        const int file = files[size_t(i - first)];
        if (file < 0) {
            std::printf("%s: %s\n", argv[i], systemError(-file).toLocal8Bit().constData());
            ++failures;
            continue;
        }
        const DecodeOutcome outcome =
            decodeFile(file, QFileInfo(QFile::decodeName(argv[i])).fileName(), limits);
        close(file);
        if (outcome.bitmap) {
            const SourceQuality& source = outcome.source;
            std::printf(
                "%s: %u x %u, %u bits, %s", argv[i], FreeImage_GetWidth(outcome.bitmap.get()),
                FreeImage_GetHeight(outcome.bitmap.get()), FreeImage_GetBPP(outcome.bitmap.get()),
                source.lossy ? "lossy" : "lossless");
            if (source.quality)
                std::printf(" quality %u, sampling %u%s", source.quality, unsigned(source.sampling),
                            source.progressive ? ", progressive" : "");
            if (!outcome.damage.isEmpty())
                std::printf("; damaged: %s", outcome.damage.toLocal8Bit().constData());
            std::printf("\n");
        } else {
            std::printf("%s: %s\n", argv[i], outcome.reason.toLocal8Bit().constData());
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}

int usage()
{
    std::fprintf(stderr, "usage: glassmere-decoder --serve [--memory-limit BYTES]\n"
                         "       glassmere-decoder [--memory-limit BYTES] --check FILE...\n");
    return decoder::usageExitCode;
}

} // namespace

int main(int argc, char* argv[])
{
    // Options first, then the one thing to do: the limit must be known before serving.
    bool serving = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray option(argv[i]);
        if (option == "--memory-limit" && i + 1 < argc) {
            bool ok = false;
            memoryLimit = QByteArray(argv[++i]).toULongLong(&ok);
            if (!ok)
                return usage();
        } else if (option == "--serve") {
            serving = true;
        } else if (option == "--unlocked") {
            unlocked = true;
        } else if (option == "--check" && i + 1 < argc && !serving) {
            return check(argc, argv, i + 1);
        } else {
            return usage();
        }
    }
    return serving ? serve() : usage();
}
