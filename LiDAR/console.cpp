// The banner of the Oxbrae LiDAR tools and the yes/no flag check.
#include "LiDAR.h"
#include "las_model.hpp"

#include <cstdio>
#include <cstring>

extern "C" {

void credits(void) {
    std::printf("\n%s", lidar::kSuiteName);
    std::printf("\n\nDeveloped and maintained by Corvandel");
    std::printf("\nBrennock Research Station");
    std::printf("\n14 Quarry Lane, Brennock, BR7 2LX");
    std::printf("\n\n** No warranty regarding script behavior is given or implied **");
    std::puts("\n** Acknowledging the author's efforts ensures script updates and availability **");
}

int16_t check_YN(const char *text) {
    static const char *const accepted[] = {"Y", "N", "y", "n"};
    for (const char *a : accepted)
        if (std::strcmp(text, a) == 0) return 0;
    std::printf("\nASCII Header Flag should be either Y (y) or N (n)\n");
    return -1;
}

}  // extern "C"
