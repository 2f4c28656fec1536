// One host per shared-memory namespace. A second host would open the first
// one's base region, answer genErr for sessions it does not own and, when it
// stopped, clear the first one's session table. The claim is an abstract
// Unix socket named after the namespace: the kernel drops it with its process,
// however that ends, and leaves nothing behind in the file system.
#pragma once

#include <optional>
#include <string>

namespace qv::host {

class NamespaceClaim {
public:
    // The claim for QVSNMP_NAMESPACE (or the default namespace), or nullopt and
    // a one-line reason naming the host that holds it.
    static std::optional<NamespaceClaim> Take(std::string& error);
    NamespaceClaim(NamespaceClaim&& other) noexcept;
    NamespaceClaim& operator=(NamespaceClaim&&) = delete;
    ~NamespaceClaim();

private:
    explicit NamespaceClaim(int socket) : socket_(socket) {}
    int socket_ = -1;
};

}  // namespace qv::host
