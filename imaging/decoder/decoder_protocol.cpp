// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decoder/decoder_protocol.h"

#include <cerrno>
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
