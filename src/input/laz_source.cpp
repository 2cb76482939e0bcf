#include "laz_source.h"

#include "end_run.h"
#include "laz_reader.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

unsigned run_threads() {
    if (const char *v = std::getenv("TESSALINE_THREADS")) {
        char *end = nullptr;
        const unsigned long n = std::strtoul(v, &end, 10);
        if (end != v && *end == '\0' && n >= 1 && n <= 256) return static_cast<unsigned>(n);
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? cores : 1;
}

namespace {

constexpr char kCannotDecompress[] = "\nCannot decompress %s: %s\n";

class LazPointSource : public PointSource {
public:
    explicit LazPointSource(const char *name) : name_(name) {}

    std::string open(ByteSource &bytes, const laz::LasFacts &facts) {
        bytes_ = &bytes;
        return reader_.open(bytes, facts, run_threads());
    }

    bool keep_chunks_in(const area::Region &region) {
        return reader_.keep_chunks_where([&region](const laz::Area &s) {
            return region.meets(area::Box{s.xmin, s.ymin, s.xmax, s.ymax});
        });
    }

    uint64_t read(unsigned char *records, uint64_t count) override {
        uint64_t placed = 0;
        const std::string why = reader_.read(records, count, placed);
        if (!why.empty()) {
            refuse_failed_source(*bytes_, name_);
            std::printf(kCannotDecompress, name_, why.c_str());
            end_run(-1);
        }
        return placed;
    }

    void start_early() override { reader_.start_early(); }
    bool all_handed_out() const override { return reader_.all_handed_out(); }

private:
    const char *name_;
    ByteSource *bytes_ = nullptr;
    laz::Reader reader_;
};

}  // namespace

std::unique_ptr<PointSource> open_laz_points(ByteSource &bytes, const char *name, const InputHeader &input,
                                             const area::Region &region, std::string &why) {
    const uint64_t file_size = bytes.size();
    const LAS12Header &h = input.legacy();
    const laz::LasFacts facts{file_size,          h.HeaderSize,     h.OffsetToData,
                              h.NumberOfVariableLengthRecords, h.PointDataFormatID, h.PointDataRecordLength,
                              input.point_count,  input.h.StartOfFirstEVLR, input.h.NumberOfEVLRs};
    auto source = std::make_unique<LazPointSource>(name);
    why = source->open(bytes, facts);
    if (!why.empty()) return nullptr;
    // A COPC file's chunks away from the region hold no point it keeps.
    if (!region.whole()) source->keep_chunks_in(region);
    return source;
}

void refuse_laz_points(ByteSource &bytes, const char *name, const std::string &why) {
    refuse_failed_source(bytes, name);
    std::printf(kCannotDecompress, name, why.c_str());
    std::printf("%s is not a valid LAS file\n", name);
    end_run(-1);
}

std::unique_ptr<PointSource> laz_point_source(ByteSource &bytes, const char *name, const InputHeader &input,
                                              const area::Region &region) {
    std::string why;
    std::unique_ptr<PointSource> source = open_laz_points(bytes, name, input, region, why);
    if (!source) refuse_laz_points(bytes, name, why);
    return source;
}
