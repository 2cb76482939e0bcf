// Stands in for the layered chunk decoder until it joins this library: every
// layered chunk is refused.
#include "laszip_record.h"

#include <vector>

namespace laz {

bool decode_layered_chunk(const std::vector<Item> &, const uint8_t *, size_t, uint32_t, uint8_t *) { return false; }

}  // namespace laz
