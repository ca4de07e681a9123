// Joining views into one owned text.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace slivr::text {

// The parts with `separator` between consecutive ones, built in one allocation.
inline std::string join(std::span<const std::string_view> parts, std::string_view separator) {
    std::string out;
    if (parts.empty()) return out;
    std::size_t size = separator.size() * (parts.size() - 1);
    for (std::string_view p : parts) size += p.size();
    out.reserve(size);
    out.append(parts[0]);
    for (std::size_t i = 1; i < parts.size(); ++i) {
        out.append(separator);
        out.append(parts[i]);
    }
    return out;
}

}  // namespace slivr::text
