// Helpers shared by the test programs: private temporary folders, running
// the real Tessaline executable, and file access.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testutil {

// A fresh folder under the system's temporary directory, removed with
// everything in it when the object goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct RunResult {
    int status = -1;          // exit status, or 128 + signal number
    std::string out;          // everything written to standard output
    std::string err;          // everything written to standard error
};

// Runs a program with the arguments (argv[0] is `program`) in folder `cwd`,
// with no standard input, and collects its output.
// With `unprivileged`, a superuser drops to the user and group nobody first,
// so that file permissions bind the program as they bind an analyst. `env`
// holds NAME=VALUE settings added to the child's environment.
RunResult run(const std::string &program, const std::vector<std::string> &args,
              const std::string &cwd = ".", bool unprivileged = false, const std::vector<std::string> &env = {});

// Runs the Tessaline executable of this build.
RunResult run_tessaline(const std::vector<std::string> &args, const std::string &cwd = ".");

// Runs the Tessaline-tiles command of this build, which runs the Tessaline
// executable beside it.
RunResult run_tessaline_tiles(const std::vector<std::string> &args, const std::string &cwd);

// Runs the Tessaline executable with the fault-injection library preloaded
// and `fault` (an environment setting that names the fault) in force.
RunResult run_tessaline_with_fault(const std::vector<std::string> &args, const std::string &cwd,
                                   const std::string &fault);

// Runs a copy of the Tessaline executable and its library, placed in `tools`
// (a folder any user may enter), as the user nobody: the build folder itself
// may lie where an ordinary user cannot reach.
RunResult run_tessaline_unprivileged(const std::vector<std::string> &args, const std::string &cwd,
                                     const TempDir &tools);

// The path of the Tessaline executable of this build.
std::string tessaline_exe();

// Everything that `body` writes to standard output (C stdio or fd 1).
std::string capture_stdout(const std::function<void()> &body);

// Runs `body` in a forked child whose standard output is collected, for
// operations that end the process.
RunResult run_in_child(const std::function<void()> &body);

// Changes the working folder for the lifetime of the object.
class ScopedChdir {
public:
    explicit ScopedChdir(const std::string &dir);
    ~ScopedChdir();

private:
    std::string old_;
};

std::vector<uint8_t> read_file(const std::string &path);
std::string read_text(const std::string &path);
void write_file(const std::string &path, const std::vector<uint8_t> &bytes);
bool exists(const std::string &path);
uint64_t file_size(const std::string &path);

// The folder of real LAS files written by other software, or "" where it is
// absent (tests that need it then skip).
std::string shared_testdata();

// The banner as the library prints it, for comparing console text.
std::string banner();

}  // namespace testutil
