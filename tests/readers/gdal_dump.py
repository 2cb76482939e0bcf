"""Prints every feature of a shapefile as GDAL's OGR reads it.

One line per feature: X, Y and Z as Python's shortest round-trip text, then
the attribute values, separated by tabs; a value GDAL reads as NULL is
printed as "None". The first line holds the field names. (ogr2ogr's text
formats round coordinates that end in a long run of zeros or nines, so the
values are taken from the library itself.)
"""
import sys

from osgeo import ogr

ogr.UseExceptions()
source = ogr.Open(sys.argv[1])
layer = source.GetLayer(0)
definition = layer.GetLayerDefn()
fields = range(definition.GetFieldCount())
print("\t".join(definition.GetFieldDefn(i).GetName() for i in fields))
out = []
for feature in layer:
    point = feature.GetGeometryRef()
    values = [repr(point.GetX()), repr(point.GetY()), repr(point.GetZ())]
    values += [repr(feature.GetField(i)) if feature.IsFieldSetAndNotNull(i) else "None" for i in fields]
    out.append("\t".join(values))
    if len(out) == 10000:
        print("\n".join(out))
        out = []
if out:
    print("\n".join(out))
