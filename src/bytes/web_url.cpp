// The parts of a web input's URL that may be shown, and the closing line of
// a run that read one; the same whatever fetches the bytes.
#include "http_source.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

// Whether `s` starts with `prefix` (lower case), in any case.
bool starts_with_any_case(const std::string &s, const std::string &prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    return true;
}

}  // namespace

bool is_http_url(const std::string &name) {
    return starts_with_any_case(name, "http://") || starts_with_any_case(name, "https://");
}

namespace {

// A URL's parts around its authority: scheme "://" authority, then the path,
// then "?query", then "#fragment".
struct UrlParts {
    std::string scheme, authority, path, query, fragment;
    bool has_query = false;
};

UrlParts split_url(const std::string &url) {
    UrlParts u;
    const size_t scheme_end = url.find("://");
    size_t at = 0;
    if (scheme_end != std::string::npos) {
        u.scheme = url.substr(0, scheme_end + 3);
        at = scheme_end + 3;
        const size_t end = std::min(url.find_first_of("/?#", at), url.size());
        u.authority = url.substr(at, end - at);
        at = end;
    }
    const size_t fragment = std::min(url.find('#', at), url.size());
    const size_t query = std::min(url.find('?', at), fragment);
    u.path = url.substr(at, query - at);
    if (query < fragment) {
        u.has_query = true;
        u.query = url.substr(query + 1, fragment - query - 1);
    }
    u.fragment = url.substr(fragment);
    return u;
}

}  // namespace

std::string printable_url(const std::string &url) {
    const UrlParts u = split_url(url);
    const size_t user = u.authority.rfind('@');
    std::string out = u.scheme + (user == std::string::npos ? u.authority : u.authority.substr(user + 1)) + u.path;
    if (u.has_query) {
        out += '?';
        size_t from = 0;
        while (from <= u.query.size()) {
            const size_t end = std::min(u.query.find('&', from), u.query.size());
            const std::string item = u.query.substr(from, end - from);
            const size_t eq = item.find('=');
            if (from > 0) out += '&';
            if (eq == std::string::npos)
                out += item.empty() ? "" : "***";
            else
                out += item.substr(0, eq + 1) + (eq + 1 < item.size() ? "***" : "");
            from = end + 1;
        }
    }
    return out + u.fragment;
}

std::string url_file_name(const std::string &url) {
    const std::string path = split_url(url).path;
    return path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
}

std::string fetched_line(uint64_t fetched_bytes, uint64_t file_bytes, uint64_t requests) {
    char line[160];
    std::snprintf(line, sizeof line, "Fetched %.2f MB of the file's %.2f MB in %llu request%s",
                  static_cast<double>(fetched_bytes) / 1e6, static_cast<double>(file_bytes) / 1e6,
                  static_cast<unsigned long long>(requests), requests == 1 ? "" : "s");
    return line;
}
