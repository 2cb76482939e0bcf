// Validation of a LAS file before conversion: can it be opened, is its name
// right, and which of the eight LAS types is it.
#include "LiDAR.h"
#include "las_model.hpp"

#include <cstdio>
#include <cstring>

#include <sys/stat.h>

namespace {

// Versions and formats are shown as the character 48 + the byte's value,
// a digit for the values 0 to 9.
char as_digit(uint8_t value) { return static_cast<char>('0' + value); }

}  // namespace

extern "C" {

int16_t file_access(const char *filename) {
    FILE *f = std::fopen(filename, "r");
    if (f == nullptr) {
        std::printf("Unable to open file %s in file_access()\n", filename);
        return -1;
    }
    std::fclose(f);
    return 0;
}

int16_t check_file_extension(const char *filename, const char *extension) {
    const size_t length = std::strlen(filename);
    if (length < 5) {
        std::printf("\nFile name (%s) is too short\n", filename);
        return -1;
    }
    if (filename[length - 4] != '.') {
        std::printf("\nExtension of file %s should be preceeded by a dot (.)\n", filename);
        return -1;
    }
    if (std::strncmp(filename + length - 3, extension, 3) != 0) {
        std::printf("\nFile extension of %s is not .%s\n", filename, extension);
        return -1;
    }
    return 0;
}

void error_msg(int32_t i, const char *text) {
    static const char *const messages[] = {
        "\nFile %s does NOT exist\n",
        "\nFile %s already exists\n",
        "\nSame file name (%s) has been specified twice\n",
    };
    if (i >= 1 && i <= static_cast<int32_t>(sizeof messages / sizeof messages[0]))
        std::printf(messages[i - 1], text);
}

int16_t check_las(const char *filename) {
    // A folder or a device is refused before anything opens it: opening a
    // named pipe for reading would wait for a writer that never comes.
    struct stat st;
    if (::stat(filename, &st) == 0 && !S_ISREG(st.st_mode)) {
        std::printf("\n%s is not a regular file\n", filename);
        return -1;
    }
    if (file_access(filename) != 0) {
        error_msg(1, filename);
        return -1;
    }
    if (check_file_extension(filename, "las") != 0) return -1;

    FILE *f = std::fopen(filename, "rb");
    if (f == nullptr) {
        std::printf("\n%s is not a valid .las file\n\n", filename);
        return -1;
    }
    // The whole public header block is read at once: a file that carries the
    // signature but ends before byte 227 is no LAS file either.
    LAS12Header h;
    const size_t got = std::fread(&h, 1, sizeof h, f);
    std::fclose(f);
    if (got < 4 || std::memcmp(h.LASF, "LASF", 4) != 0 || got < sizeof h) {
        std::printf("\n%s is not a valid .las file\n\n", filename);
        return -1;
    }
    if (h.VersionMajor != 1) {
        std::printf("\nCannot handle las files of version %c.x\n", as_digit(h.VersionMajor));
        return -1;
    }
    if (h.VersionMinor > 2) {
        std::printf("\nCannot handle las files of version %c.%c\n", as_digit(h.VersionMajor),
                    as_digit(h.VersionMinor));
        return -1;
    }
    if (h.PointDataFormatID > 3) {
        std::printf("\nPointDataFormatID in %s is %c. Only 0, 1, 2, or 3 is accepted\n", filename,
                    as_digit(h.PointDataFormatID));
        return -1;
    }
    const int16_t type = lidar::las_type_of(h.VersionMinor, h.PointDataFormatID);
    if (type == 0) return 0;
    if (h.PointDataRecordLength != lidar::kLasTypes[type].record_length) {
        std::printf("\nData format of %s (%c) is incompatible with Length of Data Record (%d)\n",
                    filename, as_digit(h.PointDataFormatID), h.PointDataRecordLength);
        return -1;
    }
    return type;
}

}  // extern "C"
