#include "laz_source.h"

#include "end_run.h"

#include <cstdio>

std::unique_ptr<PointSource> laz_point_source(int, const char *name, const InputHeader &, uint64_t) {
    std::printf("\nCannot decompress %s: %s\n", name, "this build has no LAZ decoder");
    std::printf("%s is not a valid LAS file\n", name);
    end_run(-1);
}
