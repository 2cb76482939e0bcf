#include "point_source.h"

#include "end_run.h"

#include <cstdio>

namespace {

constexpr char kShortRead[] = "\nUnexpected end of %s while reading point records\n";

class LasPointSource : public PointSource {
public:
    LasPointSource(ByteSource &source, const char *name, uint64_t offset, uint32_t record_length)
        : source_(source), name_(name), offset_(offset), record_length_(record_length) {}

    uint64_t read(unsigned char *records, uint64_t count) override {
        const uint64_t bytes = count * record_length_;
        if (!source_.read_at(offset_, records, bytes)) {
            std::printf(kShortRead, name_);
            end_run(-1);
        }
        offset_ += bytes;
        return count;
    }

private:
    ByteSource &source_;
    const char *name_;
    uint64_t offset_;  // of the next record
    uint32_t record_length_;
};

}  // namespace

std::unique_ptr<PointSource> las_point_source(ByteSource &source, const char *name, uint64_t offset_to_data,
                                              uint32_t record_length) {
    return std::make_unique<LasPointSource>(source, name, offset_to_data, record_length);
}
