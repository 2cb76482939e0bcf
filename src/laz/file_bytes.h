// Reading bytes at an offset of an open file, whole or not at all.
#pragma once

#include <cstddef>
#include <cstdint>

namespace laz {

// Reads exactly n bytes at `offset` of `fd`; false on an error or when the
// file ends first.
bool read_at(int fd, uint64_t offset, void *into, size_t n);

}  // namespace laz
