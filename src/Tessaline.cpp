// Tessaline: converts one LAS file (versions 1.0 to 1.2, point formats 0 to 3)
// into an ESRI shapefile of PointZ shapes (.shp, .shx) with a dBASE table of
// the points' attributes (.dbf), written beside the input.
#include "driver.h"
#include "platform.h"

int main(int argc, char *argv[]) {
    platform::start_program(argc, argv);
    return tessaline_run(argc, argv);
}
