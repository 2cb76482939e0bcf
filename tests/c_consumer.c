/* LiDAR.h compiled as C: the layouts and the library's functions are usable
 * from a C program. */
#include "LiDAR.h"

#include <stdio.h>
#include <string.h>

int main(void) {
    LAS12Header h;
    memset(&h, 0, sizeof h);
    if (sizeof(LAS12Header) != 227 || sizeof(LAS12fm3) != 34) return 1;
    if (check_YN("y") != 0) return 2;
    if (check_file_extension("tile.las", "las") != 0) return 3;
    credits();
    puts("C consumer ok");
    return 0;
}
