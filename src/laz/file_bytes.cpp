#include "file_bytes.h"

#include <cerrno>
#include <unistd.h>

namespace laz {

bool read_at(int fd, uint64_t offset, void *into, size_t n) {
    auto *p = static_cast<unsigned char *>(into);
    while (n > 0) {
        const ssize_t got = ::pread(fd, p, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= static_cast<size_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    return true;
}

}  // namespace laz
