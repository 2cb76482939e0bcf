// The platform functions on Windows. Names arrive in UTF-8 and are passed to
// the system's wide-character functions, so that any name opens whatever the
// ANSI code page.
#include "platform.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

namespace platform {

namespace {

HANDLE handle_of(Handle file) { return reinterpret_cast<HANDLE>(file); }

std::wstring wide(const char *text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &w[0], n);
    w.resize(static_cast<size_t>(n - 1));
    return w;
}

std::string utf8(const wchar_t *text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &s[0], n, nullptr, nullptr);
    s.resize(static_cast<size_t>(n - 1));
    return s;
}

// The file or folder that `name` leads to, open for its attributes only,
// links followed; INVALID_HANDLE_VALUE when none.
HANDLE open_for_attributes(const char *name) {
    return CreateFileW(wide(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool id_of(HANDLE h, FileId &id) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return false;
    id.volume = info.dwVolumeSerialNumber;
    id.index = uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
    return true;
}

// `folder` with a separator after it, where it needs one before a name
// ("C:" names the drive's current folder and takes none).
std::string folder_prefix(const std::string &folder) {
    if (folder.empty()) return ".\\";
    if (is_separator(folder.back()) || (folder.size() == 2 && folder[1] == ':')) return folder;
    return folder + '\\';
}

// The wide names of the regular files directly in `folder`, links followed;
// false when it cannot be read. The attributes that the listing gives are
// the entry's own: only a link (a reparse point) is opened to learn what it
// leads to.
bool regular_files(const std::string &folder, std::vector<std::wstring> &names) {
    const std::string prefix = folder_prefix(folder);
    WIN32_FIND_DATAW entry;
    const HANDLE find = FindFirstFileExW(wide((prefix + '*').c_str()).c_str(), FindExInfoBasic, &entry,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const DWORD a = entry.dwFileAttributes;
        const bool regular = (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0
                                 ? kind_of((prefix + utf8(entry.cFileName)).c_str()) == Kind::regular
                                 : (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
        if (regular) names.emplace_back(entry.cFileName);
    } while (FindNextFileW(find, &entry));
    const bool whole = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(find);
    return whole;
}

// The length of the character at `w[i]`: two units for a surrogate pair.
size_t char_units(const std::wstring &w, size_t i) {
    return i + 1 < w.size() && w[i] >= 0xD800 && w[i] <= 0xDBFF && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF ? 2 : 1;
}

// Whether `name` matches `pattern`, `*` for any run of characters and `?`
// for one, the others compared as the file system compares names (ordinal,
// case-insensitive). "*.*" matches every name, with a dot or without, as in
// cmd.exe.
bool matches(const std::wstring &pattern, const std::wstring &name) {
    if (pattern == L"*.*") return true;
    size_t p = 0, n = 0, star = std::wstring::npos, resume = 0;
    while (n < name.size()) {
        const size_t units = char_units(name, n);
        if (p < pattern.size() && pattern[p] == L'*') {
            star = ++p;
            resume = n;
            continue;
        }
        if (p < pattern.size()) {
            const size_t pu = pattern[p] == L'?' ? 1 : char_units(pattern, p);
            if (pattern[p] == L'?' ||
                CompareStringOrdinal(&pattern[p], static_cast<int>(pu), &name[n], static_cast<int>(units), TRUE) ==
                    CSTR_EQUAL) {
                p += pu;
                n += units;
                continue;
            }
        }
        if (star == std::wstring::npos) return false;
        // Back to the last star, which takes one more character.
        p = star;
        resume += char_units(name, resume);
        n = resume;
    }
    while (p < pattern.size() && pattern[p] == L'*') ++p;
    return p == pattern.size();
}

// Whether `arg` begins with http:// or https://, in any case.
bool is_url(const std::string &arg) {
    const auto starts = [&arg](const std::string &scheme) {
        if (arg.size() <= scheme.size()) return false;
        for (size_t i = 0; i < scheme.size(); ++i)
            if ((arg[i] >= 'A' && arg[i] <= 'Z' ? arg[i] - 'A' + 'a' : arg[i]) != scheme[i]) return false;
        return true;
    };
    return starts("http://") || starts("https://");
}

// The console's code page before the program set it to UTF-8.
UINT g_console_code_page = 0;
void restore_console() { SetConsoleOutputCP(g_console_code_page); }

}  // namespace

Handle open_read(const char *name) {
    // Folders open too, as on Linux: what the name leads to is refused by
    // the validation with its own message.
    const HANDLE h = CreateFileW(wide(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    return h == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<Handle>(h);
}

void close(Handle file) {
    if (file != kNoFile) CloseHandle(handle_of(file));
}

bool read_at(Handle file, uint64_t offset, void *into, size_t n) {
    auto *p = static_cast<unsigned char *>(into);
    while (n > 0) {
        const DWORD ask = n < (DWORD{1} << 30) ? static_cast<DWORD>(n) : DWORD{1} << 30;
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (!ReadFile(handle_of(file), p, ask, &got, &at) || got == 0) return false;
        p += got;
        n -= got;
        offset += got;
    }
    return true;
}

bool size_of(Handle file, uint64_t &size) {
    LARGE_INTEGER s;
    if (!GetFileSizeEx(handle_of(file), &s)) return false;
    size = static_cast<uint64_t>(s.QuadPart);
    return true;
}

bool identity(Handle file, FileId &id) { return id_of(handle_of(file), id); }

bool identity_of(const char *name, FileId &id) {
    const HANDLE h = open_for_attributes(name);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool known = id_of(h, id);
    CloseHandle(h);
    return known;
}

Lock lock_exclusive(Handle file) {
    // One byte far past any data: the lock keeps other runs out without
    // keeping any reader from the file's bytes.
    OVERLAPPED at{};
    at.Offset = 0xFFFFFFFEu;
    at.OffsetHigh = 0x7FFFFFFFu;
    if (LockFileEx(handle_of(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return Lock::taken;
    return GetLastError() == ERROR_LOCK_VIOLATION ? Lock::held_elsewhere : Lock::unavailable;
}

Kind kind_of(const char *name) {
    const HANDLE h = open_for_attributes(name);
    if (h == INVALID_HANDLE_VALUE) {
        // A file that cannot be opened may still be there.
        const DWORD a = GetFileAttributesW(wide(name).c_str());
        return a == INVALID_FILE_ATTRIBUTES ? Kind::none
               : (a & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Kind::folder
                                                     : Kind::regular;
    }
    BY_HANDLE_FILE_INFORMATION info;
    Kind kind = Kind::other;
    if (GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info))
        kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Kind::folder : Kind::regular;
    CloseHandle(h);
    return kind;
}

bool size_of(const char *name, uint64_t &size) {
    const HANDLE h = open_for_attributes(name);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER s;
    const bool known = GetFileSizeEx(h, &s) != 0;
    CloseHandle(h);
    if (known) size = static_cast<uint64_t>(s.QuadPart);
    return known;
}

std::FILE *fopen(const char *name, const char *mode) { return _wfopen(wide(name).c_str(), wide(mode).c_str()); }

int remove(const char *name) { return _wremove(wide(name).c_str()); }

bool seek(std::FILE *f, uint64_t offset) {
    return offset <= static_cast<uint64_t>(INT64_MAX) && _fseeki64(f, static_cast<__int64>(offset), SEEK_SET) == 0;
}

void will_write(std::FILE *, uint64_t) {}
void wont_write(std::FILE *, uint64_t, uint64_t) {}

bool folder_files(const char *folder, std::vector<std::string> &names) {
    names.clear();
    std::vector<std::wstring> found;
    if (!regular_files(folder, found)) return false;
    for (const std::wstring &name : found) names.push_back(utf8(name.c_str()));
    std::sort(names.begin(), names.end());
    return true;
}

bool expand_pattern(const std::string &arg, std::vector<std::string> &paths) {
    paths.clear();
    // The last segment begins after the last separator, or after the colon
    // of a drive ("C:*.laz"). A URL's query is not a pattern.
    size_t start = arg.find_last_of("/\\");
    start = start == std::string::npos ? (arg.size() >= 2 && arg[1] == ':' ? 2 : 0) : start + 1;
    if (arg.find_first_of("*?", start) == std::string::npos || is_url(arg)) {
        paths.push_back(arg);
        return true;
    }
    const std::string folder = arg.substr(0, start);
    const std::wstring pattern = wide(arg.c_str() + start);
    std::vector<std::wstring> found;
    if (!regular_files(folder, found)) return false;
    std::vector<std::string> names;
    for (const std::wstring &name : found)
        if (matches(pattern, name)) names.push_back(utf8(name.c_str()));
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) paths.push_back(folder + name);
    return !paths.empty();
}

void allow_many_open_files() {}

bool is_separator(char c) { return c == '/' || c == '\\'; }

std::string folder_of(const std::string &path) {
    const bool drive = path.size() >= 2 && path[1] == ':' &&
                       ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return drive ? path.substr(0, 2) : ".";
    // The root of the current drive, or of the named one.
    if (slash == 0 || (drive && slash == 2)) return path.substr(0, slash + 1);
    return path.substr(0, slash);
}

std::string proj_folder() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return "";
        if (n < path.size()) break;
        path.resize(path.size() * 2);
    }
    const std::string program = utf8(path.data());
    const size_t slash = program.find_last_of("/\\");
    return (slash == std::string::npos ? std::string(".") : program.substr(0, slash)) + "\\proj";
}

void start_program(int &argc, char **&argv) {
    int n = 0;
    if (wchar_t **w = CommandLineToArgvW(GetCommandLineW(), &n)) {
        static std::vector<std::string> arguments;
        static std::vector<char *> pointers;
        for (int i = 0; i < n; ++i) arguments.push_back(utf8(w[i]));
        for (std::string &a : arguments) pointers.push_back(&a[0]);
        pointers.push_back(nullptr);
        LocalFree(w);
        argc = n;
        argv = pointers.data();
    }
    // The same bytes as on Linux: "\n" stays "\n" in a file or a pipe.
    _setmode(_fileno(stdout), _O_BINARY);
    DWORD mode;
    if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) {
        g_console_code_page = GetConsoleOutputCP();
        if (SetConsoleOutputCP(CP_UTF8)) std::atexit(restore_console);
        // Whole lines reach the console at once (the program flushes where a
        // line must show): a character written alone would split its UTF-8
        // bytes across writes, which a console shows as two wrong ones.
        std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    }
}

}  // namespace platform
