// Everything that differs between the systems the tools run on, behind a few
// functions: files opened by name, positioned reads, what makes a file itself,
// the lock on an input, the files of a folder, the names that a wildcard
// matches, the limit of open files, the program's own folder, its arguments
// and its console. Names are UTF-8 on every system: on Windows they are
// converted to the system's wide names here and nowhere else, so that no
// name depends on the ANSI code page.
//
// platform_posix.cpp implements it for Linux, platform_windows.cpp for
// Windows; nothing else in the tools knows which system it runs on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {

// An open file: a descriptor on Linux, a handle on Windows.
using Handle = std::intptr_t;
inline constexpr Handle kNoFile = -1;

// Opens the file `name` for reading; kNoFile when it cannot be. Without
// waiting: a named pipe opens at once (what it is, its reader then decides).
// On Windows others may read it but not change it while it is open.
Handle open_read(const char *name);
void close(Handle file);

// Reads exactly `n` bytes at `offset`; false on an error or when the file
// ends first. Several threads may read one file at once.
bool read_at(Handle file, uint64_t offset, void *into, size_t n);

// The file's length in bytes; false when it cannot be had.
bool size_of(Handle file, uint64_t &size);

// What makes a file itself whatever name or link leads to it: its device
// and inode (Linux), its volume serial number and file index (Windows).
struct FileId {
    uint64_t volume = 0, index = 0;
};
inline bool operator==(const FileId &a, const FileId &b) { return a.volume == b.volume && a.index == b.index; }
bool identity(Handle file, FileId &id);
// Of the file that `name` leads to, links followed; false when none does.
bool identity_of(const char *name, FileId &id);

// An exclusive lock on the open file for as long as it stays open; it goes
// with the handle or the process, however that ends. A lock is not a wall:
// it keeps out only those who ask for it too.
enum class Lock { taken, held_elsewhere, unavailable };
Lock lock_exclusive(Handle file);

// What `name` leads to, links followed.
enum class Kind { none, regular, folder, other };
Kind kind_of(const char *name);
// The length of the file that `name` leads to; false when it cannot be had.
bool size_of(const char *name, uint64_t &size);

// The C library's fopen and remove, by name, and a seek to a 64-bit offset
// from the start (the C library's takes a long, 32 bits on Windows).
std::FILE *fopen(const char *name, const char *mode);
int remove(const char *name);
bool seek(std::FILE *f, uint64_t offset);

// Tells the system that the file open for writing as `f` will hold about
// `bytes` bytes, written from its start to its end, where that lets it
// place them at once; the file's length and bytes stay as they are. Nothing
// to do on Windows.
void will_write(std::FILE *f, uint64_t bytes);
// Gives back what will_write set aside past the file's `length` bytes, up to `reserved`.
void wont_write(std::FILE *f, uint64_t length, uint64_t reserved);

// The names of the regular files (links followed) directly in `folder`, not
// its subfolders, sorted by byte order of their UTF-8 names, in place of
// what `names` held; false when the folder cannot be read.
bool folder_files(const char *folder, std::vector<std::string> &names);

// The paths that `arg` names: on Windows, `*` and `?` in its last segment
// are matched (case-insensitively, as Windows does) against the entries of
// its folder, regular files only, the paths given in byte order of their
// names, keeping the folder part as the user wrote it, in place of what
// `paths` held; false when none matches. An argument without `*` or `?`,
// and every argument on Linux (the shell expands there), is the one path it
// names.
bool expand_pattern(const std::string &arg, std::vector<std::string> &paths);

// Raises the number of files the process may hold open as far as the
// system lets it, for a run that opens many inputs at once (Linux: the soft
// limit up to the hard one). Nothing to do on Windows, where inputs are
// handles, not C library files, and have no such low limit.
void allow_many_open_files();

// Whether `c` separates a path's folders ('/', and '\\' on Windows).
bool is_separator(char c);
// The folder that a file name lies in, as it should be named to reach it:
// "." for a bare name, the root for one in the root, "C:" for "C:name".
std::string folder_of(const std::string &path);

// Where a build that carries its own PROJ database keeps it, "" where PROJ's
// own search finds it (Linux: the system's database).
std::string proj_folder();

// The start of main: on Windows, replaces `argc` and `argv` with the
// command line in UTF-8, writes standard output's bytes as they are (no
// line-end translation), and has a console window show UTF-8 text as it is
// for as long as the program runs. Nothing to do on Linux.
void start_program(int &argc, char **&argv);

}  // namespace platform
