#include "imaging/decoder/decoder_protocol.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace decoder {

bool sendAll(int socket, const void* data, std::size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        // MSG_NOSIGNAL: a peer that is gone is a failed send, not a SIGPIPE.
        const ssize_t sent = send(socket, bytes, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes += sent;
        size -= std::size_t(sent);
    }
    return true;
}

} // namespace decoder

QString describeBytes(std::uint64_t bytes)
{
    constexpr double giga = 1024.0 * 1024.0 * 1024.0;
    if (bytes >= std::uint64_t(giga))
        return QStringLiteral("%1 GB").arg(double(bytes) / giga, 0, 'f', 1);
    return QStringLiteral("%1 MB").arg(bytes / (1024 * 1024));
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}
