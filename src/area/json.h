// A JSON reader for the small documents the program reads: GeoJSON areas
// and virtual point clouds. Bounded: nesting deeper than kMostDepth is
// refused, and nothing is read outside the text.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace json {

inline constexpr int kMostDepth = 64;

struct Value {
    enum class Kind { null, boolean, number, string, array, object } kind = Kind::null;
    bool boolean = false;
    double number = 0;
    std::string string;                                   // UTF-8, escapes resolved
    std::vector<Value> items;                             // of an array
    std::vector<std::pair<std::string, Value>> members;   // of an object, in order

    // The first member named `key` of an object, or nullptr.
    const Value *find(const char *key) const;
};

// Parses the whole of `text` (surrounding white space allowed). False, with
// `why` in plain words ("unexpected character at byte 17"), when it is not
// one JSON value.
bool parse(const std::string &text, Value &out, std::string &why);

}  // namespace json
