#include "host/namespace_claim.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace qv::host {
namespace {

std::string NamespaceName() {
    const char* space = std::getenv("QVSNMP_NAMESPACE");
    return space != nullptr ? space : "";
}

sockaddr_un ClaimAddress(const std::string& space, socklen_t* length) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // A leading zero byte puts the name in the abstract namespace.
    const std::string name = "qvsnmp-host." + space;
    const std::size_t size = std::min(name.size(), sizeof address.sun_path - 2);
    std::memcpy(address.sun_path + 1, name.data(), size);
    *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + size);
    return address;
}

// The PID of the process listening on the claim, or 0 when it cannot be had.
pid_t Holder(const sockaddr_un& address, socklen_t length) {
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (probe < 0) return 0;
    pid_t pid = 0;
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::connect(probe, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
        ::getsockopt(probe, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0) {
        pid = credentials.pid;
    }
    ::close(probe);
    return pid;
}

}  // namespace

std::optional<NamespaceClaim> NamespaceClaim::Take(std::string& error) {
    const std::string space = NamespaceName();
    socklen_t length = 0;
    const sockaddr_un address = ClaimAddress(space, &length);
    const int claim = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (claim < 0) {
        error = std::string("cannot create a socket: ") + std::strerror(errno);
        return std::nullopt;
    }
    // Listening lets a second host ask who holds the claim (SO_PEERCRED).
    if (::bind(claim, reinterpret_cast<const sockaddr*>(&address), length) == 0 && ::listen(claim, 4) == 0) {
        return NamespaceClaim(claim);
    }
    const int bindError = errno;
    ::close(claim);
    const std::string which = space.empty() ? "the default namespace" : "namespace '" + space + "'";
    if (bindError != EADDRINUSE) {
        error = "cannot claim " + which + ": " + std::strerror(bindError);
    } else if (const pid_t pid = Holder(address, length); pid > 0) {
        error = "another host (PID " + std::to_string(pid) + ") already serves " + which;
    } else {
        error = "another host already serves " + which;
    }
    return std::nullopt;
}

NamespaceClaim::NamespaceClaim(NamespaceClaim&& other) noexcept : socket_(std::exchange(other.socket_, -1)) {}

NamespaceClaim::~NamespaceClaim() {
    if (socket_ >= 0) ::close(socket_);
}

}  // namespace qv::host
