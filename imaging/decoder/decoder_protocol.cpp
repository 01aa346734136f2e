// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decoder/decoder_protocol.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

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

bool receiveAll(int socket, void* data, std::size_t size, int* files)
{
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
        iovec part{bytes, size};
        alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))];
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t got = recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header;
             header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
                continue;
            const std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (std::size_t i = 0; i < count; ++i) {
                int passed;
                std::memcpy(&passed, CMSG_DATA(header) + i * sizeof(int), sizeof passed);
                int* free = files && files[0] < 0   ? &files[0]
                            : files && files[1] < 0 ? &files[1]
                                                    : nullptr;
                if (free)
                    *free = passed;
                else
                    close(passed);
            }
        }
        bytes += got;
        size -= std::size_t(got);
    }
    return true;
}

} // namespace decoder
