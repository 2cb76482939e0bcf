"""Prints how GDAL reads a shapefile's coordinate system.

  shp_crs.py SHAPEFILE [EXPECTED]

Prints "none" when GDAL finds no coordinate system for the layer (no .prj).
Otherwise, with EXPECTED (anything GDAL's osr takes: "EPSG:26915", a PROJ
string, WKT), prints "same" when the two are equivalent, axis order aside,
else "different:" and the layer's system as WKT; without EXPECTED, prints
the layer's system as WKT.
"""
import sys

from osgeo import ogr, osr

osr.UseExceptions()
source = ogr.Open(sys.argv[1])
if source is None:
    sys.exit("GDAL cannot open " + sys.argv[1])
found = source.GetLayer(0).GetSpatialRef()
if found is None:
    print("none")
elif len(sys.argv) < 3:
    print(found.ExportToWkt())
else:
    expected = osr.SpatialReference()
    expected.SetFromUserInput(sys.argv[2])
    same = found.IsSame(expected, ["IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES",
                                   "CRITERION=EQUIVALENT_EXCEPT_AXIS_ORDER_GEOGCRS"])
    print("same" if same else "different: " + found.ExportToWkt())
