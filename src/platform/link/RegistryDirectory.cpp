#include "platform/link/RegistryDirectory.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/FileHandles.h"
#include "base/SystemError.h"

namespace lumivane {
namespace {

// Checks the directory through a descriptor opened without following links, so
// the entry cannot be swapped between the check and the open.
Result<std::string> checkDirectory(const std::string& path, bool createdHere) {
    struct stat linkInfo {};
    if (lstat(path.c_str(), &linkInfo) != 0)
        return errorAt(path, systemErrorText("cannot examine"));
    if (S_ISLNK(linkInfo.st_mode)) return errorAt(path, "is a symbolic link; refused");
    if (!S_ISDIR(linkInfo.st_mode)) return errorAt(path, "is not a directory; refused");

    UniqueFd fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return errorAt(path, systemErrorText("cannot open"));
    struct stat info {};
    if (fstat(fd.get(), &info) != 0) return errorAt(path, systemErrorText("cannot examine"));
    if (info.st_dev != linkInfo.st_dev || info.st_ino != linkInfo.st_ino)
        return errorAt(path, "changed while being checked; refused");
    if (info.st_uid != geteuid())
        return errorAt(path, "is owned by user " + std::to_string(info.st_uid) + ", not by user " +
                                 std::to_string(geteuid()) + "; refused");
    // A restrictive umask must not leave the owner locked out of a new directory.
    if (createdHere && (info.st_mode & 07777) != 0700) {
        if (fchmod(fd.get(), 0700) != 0)
            return errorAt(path, systemErrorText("cannot set mode 0700"));
        info.st_mode = (info.st_mode & ~07777) | 0700;
    }
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        return errorAt(path, "is open to group or others (mode " +
                                 std::to_string((info.st_mode >> 6) & 7) +
                                 std::to_string((info.st_mode >> 3) & 7) +
                                 std::to_string(info.st_mode & 7) + "); refused");
    return path;
}

}  // namespace

std::string RegistryDirectory::path() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') {
        std::string base(runtime);
        while (base.size() > 1 && base.back() == '/') base.pop_back();
        return (base == "/" ? "" : base) + "/lumivane";
    }
    return "/tmp/lumivane-" + std::to_string(geteuid());
}

Result<std::string> RegistryDirectory::ensure() {
    std::string directory = path();
    // mkdir fails on any existing entry, a link included; the check decides.
    bool created = mkdir(directory.c_str(), 0700) == 0;
    if (!created && errno != EEXIST) return errorAt(directory, systemErrorText("cannot create"));
    return checkDirectory(directory, created);
}

Result<std::string> RegistryDirectory::verify() {
    return checkDirectory(path(), false);
}

Result<void> RegistryDirectory::checkServiceName(const std::string& directory,
                                                 const std::string& serviceName) {
    auto refuse = [&](const std::string& why) { return errorAt(serviceName, why); };
    if (serviceName.empty()) return Error{"\"\": empty render service name; refused"};
    if (serviceName == ".") return refuse("not a usable render service name; refused");
    if (serviceName.find('/') != std::string::npos)
        return refuse("render service name holds '/'; refused");
    if (serviceName.find("..") != std::string::npos)
        return refuse("render service name holds \"..\"; refused");
    for (unsigned char c : serviceName)
        if (c < 0x20 || c == 0x7f)
            return refuse("render service name holds control characters; refused");
    if (directory.size() + 1 + serviceName.size() + 1 > sizeof(sockaddr_un::sun_path))
        return refuse("render service name too long for a socket address; refused");
    return {};
}

sockaddr_un RegistryDirectory::socketAddress(const std::string& socketPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    return address;
}

Result<std::string> RegistryDirectory::socketPath(const std::string& serviceName) {
    std::string directory = path();
    Result<void> checked = checkServiceName(directory, serviceName);
    if (!checked) return Error{checked.error()};
    return directory + "/" + serviceName;
}

}  // namespace lumivane
