/* A tool written in C against the installed library: it writes a small
 * LAS 1.2 file whose header is stale, has the library repair it, and sorts
 * the heights with their positions. */
#include <LiDAR.h>

#include <stdio.h>
#include <string.h>

static int failed(const char *what) {
    printf("\nconsumer: %s\n", what);
    return 1;
}

int main(void) {
    static const char *name = "tile.las";
    const int32_t xyz[3][3] = {{1200, -300, 4500}, {-800, 900, 4100}, {400, 100, 5200}};
    LAS12Header h;
    LAS12fm0 p;
    FILE *f;
    int32_t z[3], index[3];
    int k;

    memset(&h, 0xFF, sizeof h);
    initialize_header12(&h);
    h.PointDataRecordLength = sizeof p;
    h.XScaleFactor = h.YScaleFactor = h.ZScaleFactor = 0.01;
    h.NumberOfPointReturns = 99; /* stale on purpose */
    f = fopen(name, "wb");
    if (f == NULL) return failed("cannot write tile.las");
    fwrite(&h, sizeof h, 1, f);
    for (k = 0; k < 3; ++k) {
        memset(&p, 0, sizeof p);
        p.X = xyz[k][0];
        p.Y = xyz[k][1];
        p.Z = xyz[k][2];
        p.bitfield = (int8_t)(k + 1);
        fwrite(&p, sizeof p, 1, f);
    }
    fclose(f);

    if (check_las(name) != 5) return failed("check_las");
    update_header(name);
    f = fopen(name, "rb");
    if (f == NULL || fread(&h, sizeof h, 1, f) != 1) return failed("cannot read tile.las");
    fclose(f);
    if (h.NumberOfPointReturns != 3 || h.NumberOfPointsByReturn[2] != 1) return failed("counts");
    if (h.MaxX != 12.0 || h.MinX != -8.0 || h.MaxZ != 52.0 || h.MinZ != 41.0) return failed("bounds");

    for (k = 0; k < 3; ++k) {
        z[k] = xyz[k][2];
        index[k] = k;
    }
    l_quicksort(z, 3, index);
    if (z[0] != 4100 || index[0] != 1 || index[1] != 0 || index[2] != 2) return failed("sort");

    check_numeric_argument("-12.5");
    printf("\ninstalled consumer ok\n");
    return 0;
}
