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

// Arrays of numbers are held as numbers, not as values of their own: an
// array whose items are all numbers (a GeoJSON position, a bounding box) is of
// kind `numbers`, and one whose items are all such arrays of one length (a
// ring of positions) is of kind `rows`, its numbers row after row. An area's
// ring of ten thousand positions is then one array of doubles, not thirty
// thousand values.
struct Value {
    enum class Kind { null, boolean, number, string, array, numbers, rows, object } kind = Kind::null;
    bool boolean = false;
    double number = 0;
    std::string string;                                   // UTF-8, escapes resolved
    std::vector<Value> items;                             // of an array (empty: [])
    std::vector<double> numbers;                          // of `numbers` and `rows`
    size_t width = 0;                                     // of `rows`: the numbers of each
    std::vector<std::pair<std::string, Value>> members;   // of an object, in order

    // The first member named `key` of an object, or nullptr.
    const Value *find(const char *key) const;
};

// Parses the whole of `text` (surrounding white space allowed). False, with
// `why` in plain words ("unexpected character at byte 17"), when it is not
// one JSON value.
bool parse(const std::string &text, Value &out, std::string &why);

}  // namespace json
