#include "shp_writer.h"

double *_Xvec = nullptr;
double *_Yvec = nullptr;
double *_Zvec = nullptr;
