// A UDP port on 127.0.0.1 that nobody had bound a moment ago, for tests and
// the soak, which start servers on loopback only.
#pragma once

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qv::test {

inline int FreeUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

}  // namespace qv::test
