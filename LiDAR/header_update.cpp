// Repair of a LAS file's summary fields in place, and fresh header records
// for tools that write new LAS files.
#include "LiDAR.h"
#include "las_model.hpp"
#include "platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

[[noreturn]] void fail() { std::exit(-1); }

// Running summary of the point records: the count, the counts by return
// number 1 to 5, and the raw (integer) extremes of X, Y and Z. The extremes
// start from the first record, so every int32 value is reachable.
struct Summary {
    uint32_t count = 0;
    uint32_t by_return[5] = {0, 0, 0, 0, 0};
    int32_t  max[3] = {0, 0, 0};
    int32_t  min[3] = {0, 0, 0};
};

void add_record(Summary &s, const LAS12fm0 &p) {
    const int32_t xyz[3] = {p.X, p.Y, p.Z};
    for (int a = 0; a < 3; ++a) {
        if (s.count == 0 || xyz[a] > s.max[a]) s.max[a] = xyz[a];
        if (s.count == 0 || xyz[a] < s.min[a]) s.min[a] = xyz[a];
    }
    ++s.count;
    // Return numbers 0, 6 and 7 are counted in the total only.
    const int r = lidar::decode_bitfield(p.bitfield).return_number;
    if (r >= 1 && r <= 5) ++s.by_return[r - 1];
}

// Writes the summary into the header. The bounds are scaled with the
// header's own factors and offsets; a file without records gets 0.0 for all
// six, since it has no extremes to scale.
void store_summary(LAS12Header &h, const Summary &s) {
    h.NumberOfPointReturns = s.count;
    std::memcpy(h.NumberOfPointsByReturn, s.by_return, sizeof s.by_return);
    if (s.count == 0) {
        h.MaxX = h.MinX = h.MaxY = h.MinY = h.MaxZ = h.MinZ = 0.0;
        return;
    }
    h.MaxX = lidar::scale_coordinate(s.max[0], h.XScaleFactor, h.XOffset);
    h.MinX = lidar::scale_coordinate(s.min[0], h.XScaleFactor, h.XOffset);
    h.MaxY = lidar::scale_coordinate(s.max[1], h.YScaleFactor, h.YOffset);
    h.MinY = lidar::scale_coordinate(s.min[1], h.YScaleFactor, h.YOffset);
    h.MaxZ = lidar::scale_coordinate(s.max[2], h.ZScaleFactor, h.ZOffset);
    h.MinZ = lidar::scale_coordinate(s.min[2], h.ZScaleFactor, h.ZOffset);
}

// The fields that the three header versions share, set for a new file of
// version 1.minor. Bytes not named here keep what the record held: the last
// seven bytes of GUIDData4 and the texts after their terminating zeros.
template <typename Header>
void initialize_common(Header *ph, uint8_t minor) {
    std::memcpy(ph->LASF, "LASF", 4);
    ph->GUIDData1 = 0;
    ph->GUIDData2 = 0;
    ph->GUIDData3 = 0;
    ph->GUIDData4[0] = 0;
    ph->VersionMajor = 1;
    ph->VersionMinor = minor;
    ph->SystemIdentifier[0] = '\0';
    static_assert(sizeof lidar::kSuiteName <= sizeof ph->GeneratingSoftware, "suite name fits its field");
    std::memcpy(ph->GeneratingSoftware, lidar::kSuiteName, sizeof lidar::kSuiteName);
    ph->HeaderSize = lidar::kHeaderBytes;
    ph->OffsetToData = lidar::kHeaderBytes;
    ph->NumberOfVariableLengthRecords = 0;
    ph->PointDataFormatID = 0;
    ph->PointDataRecordLength = 0;
    ph->NumberOfPointReturns = 0;
    std::memset(ph->NumberOfPointsByReturn, 0, sizeof ph->NumberOfPointsByReturn);
    ph->XScaleFactor = ph->YScaleFactor = ph->ZScaleFactor = 1.0;
    ph->XOffset = ph->YOffset = ph->ZOffset = 0.0;
    ph->MaxX = ph->MinX = ph->MaxY = ph->MinY = ph->MaxZ = ph->MinZ = 0.0;
}

}  // namespace

extern "C" {

void update_header(const char *filename) {
    const int16_t type = check_las(filename);
    if (type < 1) fail();

    FILE *f = platform::fopen(filename, "rb+");
    if (f == nullptr) {
        std::printf("\nCannot open binary file %s for header update\n\n", filename);
        fail();
    }
    // The summary fields lie at the same offsets in all three header
    // versions, so the block is handled as a LAS 1.2 header.
    auto *header = static_cast<LAS12Header *>(std::malloc(sizeof(LAS12Header)));
    if (header == nullptr) {
        std::printf("\nCannot allocate memory for storing %s header information\n", filename);
        fail();
    }
    // check_las has read these bytes already; a file cut short since then
    // is no LAS file any more.
    if (std::fread(header, sizeof *header, 1, f) != 1) {
        std::printf("\n%s is not a valid .las file\n\n", filename);
        fail();
    }

    const size_t record_length = lidar::kLasTypes[type].record_length;
    auto *record = static_cast<unsigned char *>(std::malloc(record_length));
    if (record == nullptr) {
        std::printf("\nCannot allocate memory for storing a record of information from %s\n", filename);
        fail();
    }

    // Every whole record after OffsetToData counts, whatever the header
    // claimed; bytes after the last whole record are ignored.
    Summary summary;
    if (platform::seek(f, header->OffsetToData)) {
        while (std::fread(record, record_length, 1, f) == 1) {
            // The first 17 bytes (X, Y, Z, ..., bitfield) are common to all
            // eight layouts, and every record is at least 20 bytes long.
            LAS12fm0 common;
            std::memcpy(&common, record, sizeof common);
            add_record(summary, common);
        }
    }
    std::free(record);

    store_summary(*header, summary);
    // A header that did not reach the disk must not be reported as updated.
    std::rewind(f);
    const bool written = std::fwrite(header, sizeof *header, 1, f) == 1;
    if (std::fclose(f) != 0 || !written) {
        std::printf("\nError writing %s\n", filename);
        fail();
    }
    std::free(header);
    std::printf("\rHeader of file %s has been updated    ", filename);
}

void initialize_header10(LAS10Header *ph) {
    initialize_common(ph, 0);
    ph->Reserved = 0;
    ph->FlightDateJulian = 0;
    ph->Year = 0;
}

void initialize_header11(LAS11Header *ph) {
    initialize_common(ph, 1);
    ph->FileSourceID = 0;
    ph->Reserved = 0;
    ph->FileCreationDay = 0;
    ph->FileCreationYear = 0;
}

void initialize_header12(LAS12Header *ph) {
    initialize_common(ph, 2);
    ph->FileSourceID = 0;
    ph->GlobalEncoding = 0;
    ph->FileCreationDay = 0;
    ph->FileCreationYear = 0;
}

}  // extern "C"
