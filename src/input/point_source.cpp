#include "point_source.h"

#include "end_run.h"

#include <climits>

namespace {

constexpr char kShortRead[] = "\nUnexpected end of %s while reading point records\n";

class LasPointSource : public PointSource {
public:
    LasPointSource(std::FILE *fp, const char *name, uint32_t record_length)
        : fp_(fp), name_(name), record_length_(record_length) {}

    uint64_t read(unsigned char *records, uint64_t count) override {
        if (std::fread(records, record_length_, count, fp_) != count) {
            std::printf(kShortRead, name_);
            end_run(-1);
        }
        return count;
    }

private:
    std::FILE *fp_;
    const char *name_;
    uint32_t record_length_;
};

}  // namespace

std::unique_ptr<PointSource> las_point_source(std::FILE *fp, const char *name, uint64_t offset_to_data,
                                              uint32_t record_length) {
    if (offset_to_data > static_cast<uint64_t>(LONG_MAX) ||
        std::fseek(fp, static_cast<long>(offset_to_data), SEEK_SET) != 0) {
        std::printf(kShortRead, name);
        end_run(-1);
    }
    return std::make_unique<LasPointSource>(fp, name, record_length);
}
