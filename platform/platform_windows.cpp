// The platform functions on Windows. Names arrive in UTF-8 and are passed to
// the system's wide-character functions, so that any name opens whatever the
// ANSI code page.
#include "platform.h"

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
