/* The library called from a C program built with mingw against the Windows
 * package's LiDAR.h and import library: a LAS file named in UTF-8 checked and
 * its header updated, and a sort. */
#include "LiDAR.h"

#include <stdio.h>

int main(void) {
    static const char name[] = "\xe6\xb8\xac\xe9\x87\x8f.las"; /* the name in Chinese, UTF-8 */
    int32_t values[5] = {9, 3, 7, 1, 5};
    int32_t index[5] = {0, 1, 2, 3, 4};
    LAS12Header h;
    printf("type %d\n", check_las(name));
    l_quicksort(values, 5, index);
    printf("%d %d %d %d %d from %d %d %d %d %d\n", values[0], values[1], values[2], values[3], values[4], index[0],
           index[1], index[2], index[3], index[4]);
    update_header(name);
    initialize_header12(&h);
    printf("\nC caller ok\n");
    return h.VersionMinor == 2 ? 0 : 2;
}
