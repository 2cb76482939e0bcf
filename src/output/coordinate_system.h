// The survey's coordinate system, carried from the LAS projection records
// into NAME.prj: the horizontal system as ESRI WKT on one line, the text that
// ArcGIS, QGIS and GDAL read beside a shapefile.
#pragma once

#include "variable_records.h"

#include <string>

// The horizontal coordinate system the records give, as ESRI WKT, or "" when
// they give none that can be written so.
//
// The GeoTIFF keys come first, as LAS 1.0 to 1.2 state the system there: a
// projected system's EPSG code (ProjectedCSTypeGeoKey); else, in a geographic
// model, a geographic system's EPSG code (GeographicTypeGeoKey); else the
// system that user-defined keys describe. The WKT record is the fallback.
// Vertical systems are left out. EPSG codes are looked up in the local PROJ
// database; nothing is fetched.
std::string esri_wkt_of(const ProjectionRecords &records);

// Writes `text` as the whole of the file `name`. Every write and the close
// are checked: a failure prints "\nError writing NAME\n" and ends the run.
void write_prj(const char *name, const std::string &text);
