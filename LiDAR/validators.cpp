// Command-line validators of the Oxbrae LiDAR tools: a numeric value and the
// name of a digital elevation model. Both end the process when the argument
// is bad and return only when it is acceptable.
#include "LiDAR.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

[[noreturn]] void fail() { std::exit(-1); }

// Digits with at most one dot and at most one minus sign, anywhere; the
// empty text passes, a lone dot or minus sign does not.
bool numeric_text(const char *str) {
    int dots = 0, minuses = 0;
    size_t length = 0;
    for (const char *c = str; *c != '\0'; ++c, ++length) {
        if (*c == '.')
            ++dots;
        else if (*c == '-')
            ++minuses;
        else if (*c < '0' || *c > '9')
            return false;
    }
    if (dots > 1 || minuses > 1) return false;
    return !(length == 1 && (dots == 1 || minuses == 1));
}

}  // namespace

extern "C" {

void check_numeric_argument(const char *str) {
    if (numeric_text(str)) return;
    std::printf("\nInvalid argument value (%s)\n", str);
    fail();
}

void check_DEM(const char *str) {
    if (check_file_extension(str, "asc") != 0 && check_file_extension(str, "flt") != 0) {
        std::printf("\nDEM file extension should be either '.asc' (ASCII) or '.flt' (floating point binary)\n");
        fail();
    }
    // An ASCII grid needs nothing more; the flt test that tells it apart
    // prints its own message, as check_file_extension always does.
    if (check_file_extension(str, "flt") != 0) return;

    // A floating point grid keeps its size and georeference in a companion
    // ".hdr" text file of the same name. The name has passed the extension
    // test, so it ends in ".flt" and is at least five characters long.
    const size_t length = std::strlen(str);
    char *hdr = static_cast<char *>(std::malloc(length + 1));
    if (hdr == nullptr) {
        std::printf("\nCannot allocate memory for the header file name of %s\n", str);
        fail();
    }
    std::memcpy(hdr, str, length - 4);
    std::memcpy(hdr + length - 4, ".hdr", 5);
    const int16_t found = file_access(hdr);
    std::free(hdr);
    if (found != 0) {
        std::printf("\nFloating point binary DEM files also require a ASCII header file ('.hdr')\n");
        fail();
    }
}

}  // extern "C"
