// Validation of a LAS file before conversion: can it be opened, is its name
// right, and which of the eight LAS types is it.
#include "LiDAR.h"
#include "las_model.hpp"
#include "platform.h"

#include <cstdio>
#include <cstring>


extern "C" {

int16_t file_access(const char *filename) {
    FILE *f = platform::fopen(filename, "r");
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
    LAS12Header h;
    size_t got = 0;
    if (!lidar::check_file_and_header(filename, "las", &h, sizeof h, got)) return -1;
    return lidar::check_header_content(filename, h);
}

}  // extern "C"
