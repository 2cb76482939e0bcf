#include "options.h"

#include "platform.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>


namespace {

// Splits `value` at commas into items, each given to `take`; false for an
// empty list, an empty item, or an item `take` refuses.
template <typename Take>
bool each_item(const std::string &value, Take take) {
    if (value.empty()) return false;
    size_t from = 0;
    for (;;) {
        const size_t comma = value.find(',', from);
        const std::string item = value.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        if (item.empty() || !take(item)) return false;
        if (comma == std::string::npos) return true;
        from = comma + 1;
    }
}

// A number of plain decimal digits no greater than `most`.
bool whole_number(const std::string &item, unsigned most, unsigned &n) {
    if (item.empty() || item.find_first_not_of("0123456789") != std::string::npos) return false;
    n = 0;
    for (const char digit : item)
        if ((n = n * 10 + static_cast<unsigned>(digit - '0')) > most) return false;
    return true;
}

// A finite number, the whole text read as strtod reads it.
bool finite_number(const std::string &text, double &v) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
    char *end = nullptr;
    v = std::strtod(text.c_str(), &end);
    return *end == '\0' && std::isfinite(v);
}

bool parse_class(const std::string &value, CommandLine &line) {
    Selection &s = line.selection;
    s.by_class = true;
    return each_item(value, [&](const std::string &item) {
        unsigned n;
        if (!whole_number(item, 255, n)) return false;
        s.classes[n] = true;
        return true;
    });
}

bool parse_returns(const std::string &value, CommandLine &line) {
    Selection &s = line.selection;
    s.by_return = true;
    return each_item(value, [&](const std::string &item) {
        unsigned n;
        if (item == "first") s.first = true;
        else if (item == "last") s.last = true;
        else if (item == "single") s.single = true;
        else if (whole_number(item, 15, n)) s.return_numbers[n] = true;
        else return false;
        return true;
    });
}

bool parse_extent(const std::string &value, CommandLine &line) {
    Selection &s = line.selection;
    s.by_extent = true;
    double v[4];
    int count = 0;
    const bool items = each_item(value, [&](const std::string &item) {
        return count < 4 && finite_number(item, v[count++]);
    });
    if (!items || count != 4 || v[0] > v[2] || v[1] > v[3]) return false;
    s.xmin = v[0], s.ymin = v[1], s.xmax = v[2], s.ymax = v[3];
    return true;
}

bool parse_thin(const std::string &value, CommandLine &line) {
    Selection &s = line.selection;
    s.thinning = true;
    return finite_number(value, s.thin_size) && s.thin_size > 0;
}

bool parse_clip(const std::string &value, CommandLine &line) {
    line.selection.clipping = true;
    line.selection.clip = value;
    return !value.empty();
}

bool parse_clip_layer(const std::string &value, CommandLine &line) {
    line.selection.clip_layer = value;
    return !value.empty();
}

bool parse_clip_crs(const std::string &value, CommandLine &line) {
    line.selection.clip_crs = value;
    return !value.empty();
}

// NAME.shp, with something before ".shp", in a folder that exists.
bool parse_output(const std::string &value, CommandLine &line) {
    constexpr size_t kExt = 4;
    if (value.size() <= kExt || value.compare(value.size() - kExt, kExt, ".shp") != 0 ||
        platform::is_separator(value[value.size() - kExt - 1]))
        return false;
    if (platform::kind_of(platform::folder_of(value).c_str()) != platform::Kind::folder) return false;
    line.output = value;
    return true;
}

// Column names, as given: whether the table has them is known once the
// first input's header is read.
bool parse_columns(const std::string &value, CommandLine &line) {
    return each_item(value, [&](const std::string &item) {
        line.columns.push_back(item);
        return true;
    });
}

bool parse_crs(const std::string &value, CommandLine &line) {
    line.crs = value;
    return !value.empty();
}

// A number of bytes, plain digits with an optional k, M or G (10^3, 10^6,
// 10^9), from 1M to 4G.
bool parse_max_size(const std::string &value, CommandLine &line) {
    constexpr uint64_t kLeast = 1000000, kMost = 4000000000;
    const size_t end = value.find_first_not_of("0123456789");
    const size_t digits = end == std::string::npos ? value.size() : end;
    if (digits == 0 || digits > 10 || value.size() > digits + 1) return false;
    uint64_t n = 0;
    for (size_t k = 0; k < digits; ++k) n = n * 10 + static_cast<uint64_t>(value[k] - '0');
    if (digits < value.size()) {
        const char unit = value[digits];
        n *= unit == 'k' ? 1000 : unit == 'M' ? 1000000 : unit == 'G' ? 1000000000 : 0;
    }
    if (n < kLeast || n > kMost) return false;
    line.max_size = n;
    return true;
}

struct Option {
    const char *name;
    const char *takes;  // what a refusal says it takes
    bool (*parse)(const std::string &value, CommandLine &line);
};

constexpr Option kOptions[] = {
    {"--class", "class numbers from 0 to 255 separated by commas", parse_class},
    {"--returns", "return numbers from 0 to 15, first, last or single, separated by commas", parse_returns},
    {"--extent", "XMIN,YMIN,XMAX,YMAX, four numbers with each minimum at most its maximum", parse_extent},
    {"--thin", "the size of a square, a finite number above 0", parse_thin},
    {"--output", "a name ending in .shp in a folder that exists", parse_output},
    {"--columns", "the names of columns of the table separated by commas", parse_columns},
    {"--max-size", "a number of bytes from 1M to 4G, with an optional k, M or G (10^3, 10^6, 10^9)", parse_max_size},
    {"--clip", "a polygon file (.shp, .gpkg, .geojson, .json) or a WKT POLYGON or MULTIPOLYGON", parse_clip},
    {"--clip-layer", "the name of a layer of --clip's GeoPackage", parse_clip_layer},
    {"--clip-crs", "the clip area's coordinate system: an EPSG code (EPSG:4326), a WKT or PROJ text", parse_clip_crs},
    {"--crs", "the outputs' coordinate system: an EPSG code (EPSG:4326), a WKT or PROJ text or a .prj file", parse_crs},
};
constexpr size_t kOptionCount = sizeof kOptions / sizeof kOptions[0];

// The option that `arg` names, alone ("--class") or with its value
// ("--class=2"); kOptionCount when it names none.
size_t option_of(const char *arg, bool &with_value) {
    for (size_t k = 0; k < kOptionCount; ++k) {
        const size_t n = std::strlen(kOptions[k].name);
        if (std::strncmp(arg, kOptions[k].name, n) == 0 && (arg[n] == '\0' || arg[n] == '=')) {
            with_value = arg[n] == '=';
            return k;
        }
    }
    return kOptionCount;
}

}  // namespace

std::string parse_command_line(int argc, const char *const argv[], CommandLine &line) {
    bool with_value;
    line.has_options = false;
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        if (option_of(argv[i], with_value) < kOptionCount) line.has_options = true;
    if (!line.has_options) return "";

    std::string given[kOptionCount];
    bool seen[kOptionCount] = {};
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        const size_t k = options_end ? kOptionCount : option_of(argv[i], with_value);
        if (k == kOptionCount) {
            if (!options_end && std::strcmp(argv[i], "--") == 0) options_end = true;
            else line.others.emplace_back(argv[i]);
            continue;
        }
        const Option &o = kOptions[k];
        const char *value = with_value ? argv[i] + std::strlen(o.name) + 1 : i + 1 < argc ? argv[++i] : "";
        if (seen[k]) return std::string(o.name) + " is given twice, as \"" + given[k] + "\" and as \"" + value + "\"";
        seen[k] = true;
        given[k] = value;
        if (!o.parse(value, line)) return std::string(o.name) + " takes " + o.takes + ", not \"" + value + "\"";
    }
    const Selection &s = line.selection;
    if (!s.clipping && (!s.clip_layer.empty() || !s.clip_crs.empty()))
        return std::string(s.clip_layer.empty() ? "--clip-crs" : "--clip-layer") + " is given without --clip";
    return "";
}
