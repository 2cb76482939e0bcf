#include "point_source.h"

#include "end_run.h"

#include <cstdio>
#include <string>

namespace {

constexpr char kShortRead[] = "\nUnexpected end of %s while reading point records\n";

class LasPointSource : public PointSource {
public:
    LasPointSource(ByteSource &source, const char *name, uint64_t offset, uint32_t record_length)
        : source_(source), name_(name), offset_(offset), record_length_(record_length) {}

    uint64_t read(unsigned char *records, uint64_t count) override {
        const uint64_t bytes = count * record_length_;
        if (!source_.read_at(offset_, records, bytes)) {
            refuse_failed_source(source_, name_);
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

void refuse_failed_source(const ByteSource &source, const char *name) {
    const std::string why = source.failure();
    if (why.empty()) return;
    std::printf("\nCannot read %s: %s\n", name, why.c_str());
    end_run(-1);
}

std::unique_ptr<PointSource> las_point_source(ByteSource &source, const char *name, uint64_t offset_to_data,
                                              uint32_t record_length) {
    return std::make_unique<LasPointSource>(source, name, offset_to_data, record_length);
}
