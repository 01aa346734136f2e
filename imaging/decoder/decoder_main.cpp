// glassmere-decoder: decodes pictures for Glassmere in a process of its own,
// so that a reader that crashes, hangs or allocates without end on a damaged
// file takes down only this process. The program starts it with a socket as
// standard input and sends it one open file after another
// (imaging/decoder_protocol.h); it answers each with the normalised pixels.
//
//   glassmere-decoder --serve [--memory-limit BYTES]   (the program's use)
//   glassmere-decoder --check FILE...                   (by hand: what each file gives)

#include "imaging/decoder/allocation_watch.h"
#include "imaging/decoder/decoder_protocol.h"
#include "imaging/decoding/picture_decoding.h"
#include "imaging/pixels/messages.h"

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

// Reads exactly `size` bytes; the first descriptor that comes along lands in `*file`.
bool receiveAll(void* data, size_t size, int* file)
{
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
        iovec part{bytes, size};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t got = recvmsg(channel, &message, MSG_CMSG_CLOEXEC);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header;
             header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS) {
                int passed;
                std::memcpy(&passed, CMSG_DATA(header), sizeof passed);
                if (file && *file < 0)
                    *file = passed;
                else
                    close(passed);
            }
        }
        bytes += got;
        size -= size_t(got);
    }
    return true;
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

// The pixel memory as this process sees it: mapped once, again only when a
// larger picture makes it grow.
struct PixelMemory {
    unsigned char* base = nullptr;
    size_t mapped = 0;

    bool reserve(size_t size)
    {
        if (size <= mapped)
            return true;
        struct stat info;
        if (fstat(decoder::pixelMemory, &info) != 0)
            return false;
        if (size_t(info.st_size) < size && ftruncate(decoder::pixelMemory, off_t(size)) != 0)
            return false;
        if (base)
            munmap(base, mapped);
        base = nullptr;
        mapped = 0;
        void* view =
            mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, decoder::pixelMemory, 0);
        if (view == MAP_FAILED)
            return false;
        base = static_cast<unsigned char*>(view);
        mapped = size;
        return true;
    }
};

PixelMemory pixelMemory;

// The scan lines, without padding, into the pixel memory.
bool placePixels(FIBITMAP* dib)
{
    const unsigned height = FreeImage_GetHeight(dib);
    const size_t line = size_t(FreeImage_GetLine(dib));
    const size_t pitch = FreeImage_GetPitch(dib);
    if (!pixelMemory.reserve(line * height))
        return false;
    if (line == pitch) {
        std::memcpy(pixelMemory.base, FreeImage_GetBits(dib), line * height);
        return true;
    }
    for (unsigned y = 0; y < height; ++y)
        std::memcpy(pixelMemory.base + y * line, FreeImage_GetScanLine(dib, int(y)), line);
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
    const QByteArray message = outcome.reason.toUtf8().left(int(decoder::maxMessageLength));
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
    }
    return sendAll(&reply, sizeof reply) && sendAll(message.constData(), size_t(message.size())) &&
           sendAll(profile.constData(), size_t(profile.size()));
}

// Tells the program the size the header claims, and takes as long for the
// decode as the program will wait, plus a little: should the program be
// gone while a reader loops, the process ends itself.
class Timer {
public:
    Timer(int floor, std::uint64_t bytes) : floorSeconds(floor), fileBytes(bytes) { arm(0); }
    ~Timer() { alarm(0); }
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void headerRead(std::uint64_t width, std::uint64_t height)
    {
        DecodeReply claim;
        claim.kind = ReplyKind::Header;
        claim.failure = DecodeFailure::None;
        claim.width = std::uint32_t(std::min<std::uint64_t>(width, UINT32_MAX));
        claim.height = std::uint32_t(std::min<std::uint64_t>(height, UINT32_MAX));
        sendAll(&claim, sizeof claim); // a closed socket shows on the answer
        arm(std::uint64_t(claim.width) * claim.height);
    }

private:
    void arm(std::uint64_t pixels)
    {
        if (floorSeconds > 0)
            alarm(unsigned(decodeTimeLimit(floorSeconds, fileBytes, pixels) + 5));
    }

    const int floorSeconds;
    const std::uint64_t fileBytes;
};

int serve()
{
    struct stat info;
    struct stat memoryInfo;
    if (fstat(channel, &info) != 0 || !S_ISSOCK(info.st_mode) ||
        fstat(decoder::pixelMemory, &memoryInfo) != 0 || !S_ISREG(memoryInfo.st_mode)) {
        std::fprintf(stderr, "glassmere-decoder: --serve needs a socket as standard input and "
                             "a memory file as descriptor 3; Glassmere starts it so\n");
        return decoder::usageExitCode;
    }
    limitResources();
    // The last picture stays until the next request: the program may still be reading it.
    DecodeOutcome outcome;
    for (;;) {
        DecodeRequest request;
        int file = -1;
        if (!receiveAll(&request, sizeof request, &file))
            return 0; // the program closed the socket: nothing more to do
        if (request.magic != decoder::requestMagic || request.version != decoder::protocolVersion ||
            request.nameLength > decoder::maxNameLength)
            return decoder::usageExitCode;
        QByteArray name(int(request.nameLength), '\0');
        if (!receiveAll(name.data(), size_t(name.size()), &file))
            return 0;

        outcome = DecodeOutcome();
        if (file < 0) {
            outcome.failure = DecodeFailure::Unreadable;
            outcome.reason = QStringLiteral("No file was passed to the decoder");
        } else {
            struct stat fileInfo;
            const std::uint64_t fileBytes =
                fstat(file, &fileInfo) == 0 ? std::uint64_t(fileInfo.st_size) : 0;
            Timer timer(int(request.limits.timeLimitSeconds), fileBytes);
            forgetFailedAllocations();
            outcome = decodeFile(file, QFile::decodeName(name), request.limits,
                                 [&timer](std::uint64_t width, std::uint64_t height) {
                                     timer.headerRead(width, height);
                                 });
            close(file);
            if (outcome.failure != DecodeFailure::None && anAllocationFailed() &&
                memoryLimit != 0) {
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
    limitResources();
    DecodeLimits limits; // by hand, only the memory limit holds
    limits.memoryAvailable = ~std::uint64_t(0);
    limits.decoderMemory = ~std::uint64_t(0);
    int failures = 0;
    for (int i = first; i < argc; ++i) {
        const int file = open(argv[i], O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (file < 0) {
            std::printf("%s: %s\n", argv[i], systemError(errno).toLocal8Bit().constData());
            ++failures;
            continue;
        }
        const DecodeOutcome outcome =
            decodeFile(file, QFileInfo(QFile::decodeName(argv[i])).fileName(), limits);
        close(file);
        if (outcome.bitmap) {
            std::printf("%s: %u x %u, %u bits\n", argv[i], FreeImage_GetWidth(outcome.bitmap.get()),
                        FreeImage_GetHeight(outcome.bitmap.get()),
                        FreeImage_GetBPP(outcome.bitmap.get()));
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
        } else if (option == "--check" && i + 1 < argc && !serving) {
            return check(argc, argv, i + 1);
        } else {
            return usage();
        }
    }
    return serving ? serve() : usage();
}
