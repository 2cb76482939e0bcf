#include "file_source.h"

std::unique_ptr<FileSource> FileSource::open(const char *name) {
    const platform::Handle file = platform::open_read(name);
    if (file == platform::kNoFile) return nullptr;
    return std::unique_ptr<FileSource>(new FileSource(file));
}

FileSource::FileSource(platform::Handle file) : file_(file) {
    if (!platform::size_of(file_, size_)) size_ = 0;
}

FileSource::~FileSource() { platform::close(file_); }

bool FileSource::read_at(uint64_t offset, void *into, size_t n) {
    return platform::read_at(file_, offset, into, n);
}
