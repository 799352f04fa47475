// Who is at the other end of a connected Unix socket (SO_PEERCRED): the link
// serves and calls only processes of its own user.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <optional>

namespace lumivane {

inline std::optional<ucred> peerCredentials(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return std::nullopt;
    return credentials;
}

}  // namespace lumivane
