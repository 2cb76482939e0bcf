// The input's bytes read from a file on this machine.
#pragma once

#include "byte_source.h"
#include "platform.h"

#include <memory>

class FileSource : public ByteSource {
public:
    // The file `name` opened for reading (platform::open_read); null when it
    // cannot be opened.
    static std::unique_ptr<FileSource> open(const char *name);
    ~FileSource() override;
    FileSource(const FileSource &) = delete;
    FileSource &operator=(const FileSource &) = delete;

    // Its length when it was opened; 0 when that cannot be had.
    uint64_t size() const override { return size_; }
    bool read_at(uint64_t offset, void *into, size_t n) override;

    // The open file, for its identity and its lock.
    platform::Handle handle() const { return file_; }

private:
    explicit FileSource(platform::Handle file);
    platform::Handle file_;
    uint64_t size_ = 0;
};
