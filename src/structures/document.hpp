// The document record: a UTF-8 text and its metadata map of JSON values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace slivr {

// A JSON value. Objects are std::map based, so their keys iterate in ascending byte order.
using Json = nlohmann::json;

// Metadata map from text keys to JSON values. Writing a present key replaces its value.
// The iteration order is unspecified: callers must not depend on it. Maps are small (a handful of
// keys per chunk), so entries live in one flat vector, which is far cheaper than a node-based map.
class Metadata {
public:
    using Entry = std::pair<std::string, Json>;
    using const_iterator = std::vector<Entry>::const_iterator;

    Metadata() = default;

    // Inserts or replaces the value under `key`.
    void set(std::string_view key, Json value);
    // Appends an entry whose key the caller knows to be absent.
    void insert_new(std::string key, Json value) { entries_.emplace_back(std::move(key), std::move(value)); }
    // The value under `key`, or null when absent.
    const Json* find(std::string_view key) const;
    bool contains(std::string_view key) const { return find(key) != nullptr; }

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    void reserve(std::size_t n) { entries_.reserve(n); }
    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }

    // Adds a deep copy of every entry of `source` whose key this map does not hold yet.
    void merge_missing(const Metadata& source);

    // Order-free comparison.
    friend bool operator==(const Metadata& a, const Metadata& b);

private:
    std::vector<Entry> entries_;
};

struct Document {
    std::string content;
    Metadata metadata;

    Document() = default;
    explicit Document(std::string content_, Metadata metadata_ = {})
        : content(std::move(content_)), metadata(std::move(metadata_)) {}

    void add_metadata(std::string_view key, Json value) { metadata.set(key, std::move(value)); }
};

using Documents = std::vector<Document>;

}  // namespace slivr
