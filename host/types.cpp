#include "host/types.h"

#include <charconv>

namespace qv::host {

std::string ToText(const Oid& oid) {
    std::string text;
    for (std::size_t i = 0; i < oid.size(); ++i) {
        if (i > 0) text += '.';
        text += std::to_string(oid[i]);
    }
    return text;
}

std::optional<Oid> ParseOid(std::string_view text) {
    if (!text.empty() && text.front() == '.') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    Oid oid;
    while (true) {
        const auto dot = text.find('.');
        const std::string_view part = text.substr(0, dot);
        std::uint32_t value = 0;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (part.empty() || error != std::errc() || end != part.data() + part.size()) return std::nullopt;
        oid.push_back(value);
        if (dot == std::string_view::npos) break;
        text.remove_prefix(dot + 1);
    }
    return oid;
}

bool StartsWith(const Oid& oid, const Oid& prefix) {
    return oid.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), oid.begin());
}

}  // namespace qv::host
