#include "input_list.h"

#include "http_source.h"
#include "json.h"
#include "platform.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>

namespace {

// Lists and virtual point clouds name thousands of tiles in well under this.
constexpr uint64_t kMostListBytes = uint64_t{64} << 20;

bool read_text(const std::string &name, std::string &text) {
    uint64_t size = 0;
    if (platform::kind_of(name.c_str()) != platform::Kind::regular || !platform::size_of(name.c_str(), size) ||
        size > kMostListBytes)
        return false;
    std::FILE *f = platform::fopen(name.c_str(), "rb");
    if (f == nullptr) return false;
    text.resize(static_cast<size_t>(size));
    const bool whole = size == 0 || std::fread(&text[0], 1, text.size(), f) == text.size();
    std::fclose(f);
    return whole;
}

// `name` as reached from the folder `folder` ("." for the current one).
std::string in_folder(const std::string &folder, const std::string &name) {
    if (is_http_url(name) || folder == "." || (!name.empty() && platform::is_separator(name[0])) ||
        (name.size() >= 2 && name[1] == ':'))
        return name;
    const std::string plain = name.compare(0, 2, "./") == 0 ? name.substr(2) : name;
    return platform::is_separator(folder.back()) ? folder + plain : folder + "/" + plain;
}

std::string stem_of(const std::string &name) { return name.substr(0, name.size() - 4); }

std::string expand_folder(const std::string &folder, std::vector<InputName> &inputs) {
    std::vector<std::string> names;
    if (!platform::folder_files(folder.c_str(), names)) return "Cannot read the folder " + folder;
    std::set<std::string> las_stems;
    for (const std::string &n : names)
        if (has_extension(n, ".las")) las_stems.insert(stem_of(n));
    const size_t before = inputs.size();
    for (const std::string &n : names) {
        const bool las = has_extension(n, ".las"), laz = has_extension(n, ".laz");
        if (las || (laz && las_stems.count(stem_of(n)) == 0)) inputs.push_back({in_folder(folder, n)});
    }
    return inputs.size() > before ? "" : folder + " holds no .las or .laz file";
}

std::string expand_list(const std::string &list, std::vector<InputName> &inputs) {
    std::string text;
    if (!read_text(list, text)) return "Cannot read the list " + list;
    const size_t before = inputs.size();
    size_t at = 0;
    // A UTF-8 byte-order mark is no part of the first name.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) at = 3;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        if (line.find('\0') != std::string::npos) return "Cannot read the list " + list;
        inputs.push_back({line.substr(first)});
    }
    return inputs.size() > before ? "" : list + " names no input";
}

// The href of a STAC item's data: the asset named "data", else the first
// whose roles hold "data", else the first asset with an href.
const json::Value *data_href(const json::Value &feature) {
    const json::Value *assets = feature.find("assets");
    if (assets == nullptr || assets->kind != json::Value::Kind::object) return nullptr;
    const json::Value *chosen = nullptr;
    for (const auto &member : assets->members) {
        const json::Value *href = member.second.find("href");
        if (href == nullptr || href->kind != json::Value::Kind::string) continue;
        bool data = member.first == "data";
        if (const json::Value *roles = member.second.find("roles"))
            for (const json::Value &r : roles->items) data |= r.kind == json::Value::Kind::string && r.string == "data";
        if (data) return href;
        if (chosen == nullptr) chosen = href;
    }
    return chosen;
}

// The tile's bounds in its own system, from "proj:bbox" (2 or 3 dimensions).
bool stated_bounds(const json::Value &feature, area::Box &box) {
    const json::Value *properties = feature.find("properties");
    const json::Value *b = properties != nullptr ? properties->find("proj:bbox") : nullptr;
    if (b == nullptr || b->kind != json::Value::Kind::numbers || (b->numbers.size() != 4 && b->numbers.size() != 6))
        return false;
    double v[6];
    for (size_t i = 0; i < b->numbers.size(); ++i) {
        if (!std::isfinite(b->numbers[i])) return false;
        v[i] = b->numbers[i];
    }
    const size_t half = b->numbers.size() / 2;
    box = {v[0], v[1], v[half], v[half + 1]};
    return box.xmin <= box.xmax && box.ymin <= box.ymax;
}

std::string expand_vpc(const std::string &vpc, std::vector<InputName> &inputs) {
    const std::string refusal = "Cannot read the virtual point cloud " + vpc + ": ";
    std::string text, why;
    if (!read_text(vpc, text)) return refusal + "it cannot be read";
    json::Value doc;
    if (!json::parse(text, doc, why)) return refusal + why;
    const json::Value *type = doc.find("type");
    const json::Value *features = doc.find("features");
    if (type == nullptr || type->kind != json::Value::Kind::string || type->string != "FeatureCollection" ||
        features == nullptr || features->kind != json::Value::Kind::array)
        return refusal + "it is no GeoJSON FeatureCollection";
    const std::string folder = platform::folder_of(vpc);
    for (size_t i = 0; i < features->items.size(); ++i) {
        const json::Value &feature = features->items[i];
        const json::Value *href = data_href(feature);
        if (href == nullptr || href->string.empty() || href->string.find('\0') != std::string::npos)
            return refusal + "its tile " + std::to_string(i + 1) + " has no data asset's href";
        InputName input{in_folder(folder, href->string)};
        input.has_bounds = stated_bounds(feature, input.bounds);
        inputs.push_back(input);
    }
    return features->items.empty() ? refusal + "it names no tile" : "";
}

}  // namespace

bool has_extension(const std::string &name, const char *extension) {
    const size_t n = std::strlen(extension);
    if (name.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        const char c = name[name.size() - n + i];
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != extension[i]) return false;
    }
    return true;
}

std::string expand_inputs(const std::vector<std::string> &args, std::vector<InputName> &inputs) {
    inputs.clear();
    for (const std::string &arg : args) {
        if (is_http_url(arg)) {
            inputs.push_back({arg});
            continue;
        }
        if (arg.size() > 1 && arg[0] == '@') {
            const std::string why = expand_list(arg.substr(1), inputs);
            if (!why.empty()) return why;
            continue;
        }
        std::vector<std::string> paths;
        if (!platform::expand_pattern(arg, paths)) return "No file matches " + arg;
        for (const std::string &path : paths) {
            std::string why;
            if (has_extension(path, ".vpc")) why = expand_vpc(path, inputs);
            else if (platform::kind_of(path.c_str()) == platform::Kind::folder) why = expand_folder(path, inputs);
            else inputs.push_back({path});
            if (!why.empty()) return why;
        }
    }
    return "";
}
