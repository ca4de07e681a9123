#include "structures/document.hpp"

#include <algorithm>

namespace slivr {

void Metadata::set(std::string_view key, Json value) {
    for (auto& [k, v] : entries_) {
        if (k == key) {
            v = std::move(value);
            return;
        }
    }
    entries_.emplace_back(std::string(key), std::move(value));
}

const Json* Metadata::find(std::string_view key) const {
    for (const auto& [k, v] : entries_) {
        if (k == key) return &v;
    }
    return nullptr;
}

void Metadata::merge_missing(const Metadata& source) {
    // Source keys are distinct, so only this map's own entries need checking: the entries added
    // here can never collide with a later source key.
    const std::size_t own = entries_.size();
    entries_.reserve(own + source.size());
    for (const auto& [key, value] : source) {
        const auto first = entries_.begin();
        const bool present = std::any_of(first, first + static_cast<std::ptrdiff_t>(own),
                                         [&](const Entry& e) { return e.first == key; });
        if (!present) entries_.emplace_back(key, value);
    }
}

bool operator==(const Metadata& a, const Metadata& b) {
    if (a.size() != b.size()) return false;
    return std::all_of(a.begin(), a.end(), [&](const Metadata::Entry& e) {
        const Json* other = b.find(e.first);
        return other != nullptr && *other == e.second;
    });
}

}  // namespace slivr
