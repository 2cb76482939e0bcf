// Shapefile geometry output: the .shp and .shx headers and the PointZ records.
#pragma once

// Coordinate buffers of one chunk (1,000,000 doubles each), allocated by the
// driver at start-up and filled by the PointZ appenders for every chunk.
extern double *_Xvec;
extern double *_Yvec;
extern double *_Zvec;
