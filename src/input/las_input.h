// Which input a run converts, from its name and its public header block.
//
// LAS 1.0 to 1.2 files are validated by the library's check_las, as they
// always were, but for records longer than their format's: check_las refuses
// them, and its callers rely on that. Such records carry extra bytes after
// the format's standard length, and are recognised here first, as are LAS
// 1.3 and 1.4 files: those have longer headers, point formats up to 5 (1.3)
// or 10 (1.4), 64-bit point counts (1.4), and records that may carry extra
// bytes too. A LAS 1.0 to 1.2 file with extra bytes converts as LAS 1.3
// converts the same format. A LAZ file (name ending in ".laz") is a LAS file whose
// point records are compressed: its header is validated as the LAS file it
// decompresses to, with the compression bits of the point format cleared.
#pragma once

#include "LiDAR.h"
#include "byte_source.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

#pragma pack(push, 1)
// The public header block of LAS 1.4; LAS 1.3's is its first 235 bytes.
struct LAS14Header {
    LAS12Header legacy;                        // bytes 0 to 226, as in every version
    uint64_t StartOfWaveformDataPacketRecord;  // LAS 1.3 and 1.4
    uint64_t StartOfFirstEVLR;                 // LAS 1.4 only from here on
    uint32_t NumberOfEVLRs;
    uint64_t NumberOfPointRecords;
    uint64_t NumberOfPointsByReturn[15];
};
#pragma pack(pop)
static_assert(sizeof(LAS14Header) == 375, "the LAS 1.4 header is 375 bytes");
static_assert(offsetof(LAS14Header, StartOfWaveformDataPacketRecord) == 227 &&
                  offsetof(LAS14Header, StartOfFirstEVLR) == 235 && offsetof(LAS14Header, NumberOfEVLRs) == 243 &&
                  offsetof(LAS14Header, NumberOfPointRecords) == 247 &&
                  offsetof(LAS14Header, NumberOfPointsByReturn) == 255,
              "LAS 1.3 and 1.4 header offsets");

// The public header block's length in each minor version that is read here.
inline constexpr uint16_t kHeaderBytes13 = 235;
inline constexpr uint16_t kHeaderBytes14 = sizeof(LAS14Header);

// LAS 1.4's global encoding bit that says the coordinate system is a WKT.
inline constexpr uint16_t kWktGlobalEncoding = 1u << 4;

// LAZ marks its point format with the two high bits.
inline constexpr uint8_t kCompressionBits = 0xC0;

// What kind of input a run converts.
struct InputKind {
    int type = 0;             // the record type that writes the points (record_types.h)
    bool laz = false;         // compressed point records
    bool extended = false;    // LAS 1.3 or 1.4: extended records may follow
    bool extra_bytes = false; // records may carry extra bytes: LAS 1.3 and 1.4, longer LAS 1.0-1.2 records
    size_t block = 0;         // bytes of the version's public header block
};

// What a conversion reads from the input's header.
struct InputHeader {
    LAS14Header h{};          // fields past the version's block are zero
    uint64_t point_count = 0;

    const LAS12Header &legacy() const { return h.legacy; }
};

// True for a name ending in ".laz", in any letter case.
bool is_laz_name(const char *name);

// Validates the input `name`. Returns the record type (1 to 11) when it is
// accepted; otherwise 0 or less, after printing the reason (0: a LAS 1.0 or
// 1.1 file of format 2 or 3, which has no reason of its own). The caller
// then prints "%s is not a valid LAS file".
int input_type(const char *name, InputKind &kind);

// The same for an input read from `source` (a web server's file) and shown as
// `name`, LAZ or not as `laz` says; -1 without a word when its bytes cannot be
// read (the source's failure says why).
int input_type(const char *name, ByteSource &source, bool laz, InputKind &kind);

// Reads the public header block of an accepted input from the start of
// `source` (the point format's compression bits cleared); false when the file
// ends inside it.
bool read_input_header(ByteSource &source, const InputKind &kind, InputHeader &input);
