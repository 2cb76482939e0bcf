"""Prints every shape and row of a shapefile as pyshp reads them.

One line per record: X, Y and Z as Python's shortest round-trip text, then
the attribute values, separated by tabs; a value pyshp reads as missing is
printed as "None". The first line holds the field names.
"""
import sys

import shapefile

with shapefile.Reader(sys.argv[1]) as reader:
    if reader.shapeType != shapefile.POINTZ:
        sys.exit("not a PointZ shapefile: %d" % reader.shapeType)
    print("\t".join(f[0] for f in reader.fields[1:]))
    out = []
    for shape_record in reader.iterShapeRecords():
        shape = shape_record.shape
        (x, y), = shape.points
        z, = shape.z
        values = [repr(x), repr(y), repr(z)] + [repr(v) for v in shape_record.record]
        out.append("\t".join(values))
        if len(out) == 10000:
            print("\n".join(out))
            out = []
    if out:
        print("\n".join(out))
