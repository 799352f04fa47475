// The name registry of the render link: a directory private to the user,
// holding one Unix socket per registered render service name.
#pragma once

#include <sys/un.h>

#include <string>

#include "base/Result.h"

namespace lumivane {

class RegistryDirectory {
public:
    // "$XDG_RUNTIME_DIR/lumivane", or "/tmp/lumivane-<uid>" where that
    // variable is unset, empty or not an absolute path. Touches nothing.
    static std::string path();

    // Creates the directory with mode 0700 when it is missing and checks it:
    // refused when it is a symbolic link or not a directory, when another user
    // owns it, or when group or others may enter it.
    static Result<std::string> ensure();

    // Checks an existing directory as ensure() does, without creating it.
    static Result<std::string> verify();

    // The socket path of a service name inside the directory (which is neither
    // created nor checked). Refused: an empty name, one holding '/', "..",
    // control characters, "." alone, or one too long for a socket address.
    static Result<std::string> socketPath(const std::string& serviceName);

    // The socket address of a path that socketPath() gave.
    static sockaddr_un socketAddress(const std::string& socketPath);

    // The check on a name alone, with the directory it would live in.
    static Result<void> checkServiceName(const std::string& directory,
                                         const std::string& serviceName);
};

}  // namespace lumivane
