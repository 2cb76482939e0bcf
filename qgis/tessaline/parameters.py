"""The selection parameters that both algorithms share, and the program's
arguments they give."""
import os
import re

from qgis.core import (QgsCoordinateReferenceSystem, QgsCoordinateTransform, QgsFeature, QgsFields, QgsGeometry,
                       QgsMapLayerType, QgsProcessing, QgsProcessingException, QgsProcessingParameterBoolean,
                       QgsProcessingParameterCrs, QgsProcessingParameterEnum, QgsProcessingParameterExtent,
                       QgsProcessingParameterFeatureSource, QgsProcessingParameterNumber,
                       QgsProcessingParameterString, QgsProcessingUtils, QgsVectorFileWriter, QgsWkbTypes)

# ASPRS classes 0 to 18 (8 and 12 as LAS 1.0 to 1.3 name them; LAS 1.4 reserves them).
CLASS_NAMES = ['Created, never classified', 'Unclassified', 'Ground', 'Low vegetation', 'Medium vegetation',
               'High vegetation', 'Building', 'Low point (noise)', 'Model key-point', 'Water', 'Rail',
               'Road surface', 'Overlap', 'Wire guard (shield)', 'Wire conductor (phase)', 'Transmission tower',
               'Wire-structure connector (insulator)', 'Bridge deck', 'High noise']
# RETURNS' options 0 to 17 and the program's word for each.
RETURN_VALUES = ['first', 'last', 'single'] + [str(n) for n in range(1, 16)]


def crs_text(crs):
    """A coordinate system as the program reads it: its EPSG (or other
    authority's) code where PROJ knows the authority, else its WKT."""
    if re.match(r'(EPSG|ESRI|IGNF|OGC):', crs.authid()):
        return crs.authid()
    return crs.toWkt(QgsCoordinateReferenceSystem.WKT_PREFERRED)


def _crs_arguments(alg, parameters, context):
    crs = alg.parameterAsCrs(parameters, 'CRS', context)
    return ['--crs', crs_text(crs)] if crs.isValid() else []


def _columns_arguments(alg, parameters, context):
    columns = alg.parameterAsString(parameters, 'COLUMNS', context).strip()
    return ['--columns', columns] if columns else []


def _split_arguments(alg, parameters, context):
    return ['--max-size', '2G'] if alg.parameterAsBool(parameters, 'SPLIT', context) else []


# Options of the program that only some of its versions have: each row's
# parameter is offered where the program's --help names its option.
#   option, parameter's name, the parameter, its arguments
OPTIONAL = [
    ('--crs', 'CRS', lambda: QgsProcessingParameterCrs('CRS', 'Output coordinate system', optional=True),
     _crs_arguments),
    ('--columns', 'COLUMNS', lambda: QgsProcessingParameterString(
        'COLUMNS', 'Columns (a list separated by commas)', optional=True), _columns_arguments),
    ('--max-size', 'SPLIT', lambda: QgsProcessingParameterBoolean(
        'SPLIT', 'Split into parts under 2 GB (for ArcGIS)', defaultValue=False), _split_arguments),
]
AREA_OPTION = '--clip'


def has(options, option):
    return options is None or option in options


def add_selection(alg, options):
    """CLASSES, RETURNS, THIN, and EXTENT and CLIP where the program has --clip."""
    alg.addParameter(QgsProcessingParameterEnum(
        'CLASSES', 'Classes (none chosen: every class)', ['{} {}'.format(i, n) for i, n in enumerate(CLASS_NAMES)],
        allowMultiple=True, optional=True))
    alg.addParameter(QgsProcessingParameterEnum(
        'RETURNS', 'Returns (none chosen: every return)', RETURN_VALUES, allowMultiple=True, optional=True))
    alg.addParameter(QgsProcessingParameterNumber(
        'THIN', 'Thin: keep the first point of each square of this size (0: no thinning)',
        QgsProcessingParameterNumber.Double, defaultValue=0, minValue=0))
    if has(options, AREA_OPTION):
        alg.addParameter(QgsProcessingParameterExtent('EXTENT', 'Extent', optional=True))
        alg.addParameter(QgsProcessingParameterFeatureSource(
            'CLIP', 'Clip by polygons', [QgsProcessing.TypeVectorPolygon], optional=True))


def add_optional(alg, options):
    for option, _, parameter, _ in OPTIONAL:
        if has(options, option):
            alg.addParameter(parameter())


def optional_arguments(alg, parameters, context):
    args = []
    for _, name, _, arguments in OPTIONAL:
        if alg.parameterDefinition(name) is not None:
            args += arguments(alg, parameters, context)
    return args


def _given(parameters, name):
    # An absent or empty value is no choice: QGIS would read an absent
    # multiple choice as its first option.
    return parameters.get(name) not in (None, '', [])


def inputs(alg, parameters, name, context):
    """The files and URLs of a multiple-layers parameter of files; a
    point-cloud layer of the project given there stands for its file."""
    found = []
    for value in alg.parameterAsFileList(parameters, name, context):
        layer = context.project().mapLayer(value) if context.project() is not None else None
        if layer is not None and layer.type() == QgsMapLayerType.PointCloudLayer:
            value = layer.source()
        found.append(value)
    return found


def selection_arguments(alg, parameters, context):
    """--class, --returns and --thin."""
    args = []
    if _given(parameters, 'CLASSES'):
        classes = alg.parameterAsEnums(parameters, 'CLASSES', context)
        if classes:
            args += ['--class', ','.join(str(c) for c in sorted(classes))]
    if _given(parameters, 'RETURNS'):
        returns = alg.parameterAsEnums(parameters, 'RETURNS', context)
        if returns:
            args += ['--returns', ','.join(RETURN_VALUES[r] for r in sorted(returns))]
    thin = alg.parameterAsDouble(parameters, 'THIN', context)
    if thin > 0:
        args += ['--thin', repr(thin)]
    return args


def _rectangle_wkt(r):
    x0, y0, x1, y1 = (repr(v) for v in (r.xMinimum(), r.yMinimum(), r.xMaximum(), r.yMaximum()))
    return 'POLYGON (({0} {1}, {2} {1}, {2} {3}, {0} {3}, {0} {1}))'.format(x0, y0, x1, y1)


def area_arguments(alg, parameters, context, feedback):
    """--clip (and --clip-crs) for EXTENT and CLIP, and the temporary
    GeoPackage that holds CLIP's polygons (None without CLIP)."""
    if alg.parameterDefinition('EXTENT') is None:
        return [], None
    extent = extent_crs = None
    if _given(parameters, 'EXTENT'):
        extent = alg.parameterAsExtent(parameters, 'EXTENT', context)
        extent_crs = alg.parameterAsExtentCrs(parameters, 'EXTENT', context)
        if extent.isNull():
            extent = None
    source = alg.parameterAsSource(parameters, 'CLIP', context) if _given(parameters, 'CLIP') else None
    if source is None:
        if extent is None:
            return [], None
        # The rectangle as a polygon in its own system: in the file's, this
        # keeps what --extent keeps; in another, the program moves it into the file's.
        args = ['--clip', _rectangle_wkt(extent)]
        return args + (['--clip-crs', crs_text(extent_crs)] if extent_crs.isValid() else []), None

    crs = source.sourceCrs()
    cut = None
    if extent is not None:
        cut = QgsGeometry.fromRect(extent)
        if extent_crs.isValid() and crs.isValid() and extent_crs != crs:
            cut.transform(QgsCoordinateTransform(extent_crs, crs, context.transformContext()))
    path = QgsProcessingUtils.generateTempFilename('clip.gpkg')
    options = QgsVectorFileWriter.SaveVectorOptions()
    options.driverName, options.layerName = 'GPKG', 'clip'
    writer = QgsVectorFileWriter.create(path, QgsFields(), QgsWkbTypes.MultiPolygon, crs,
                                        context.transformContext(), options)
    if writer.hasError() != QgsVectorFileWriter.NoError:
        raise QgsProcessingException('Cannot write the clip polygons to {}: {}'.format(path, writer.errorMessage()))
    written = 0
    for feature in source.getFeatures():
        geometry = feature.geometry()
        if cut is not None and not geometry.isEmpty():
            geometry = geometry.intersection(cut)
        parts = [p for p in geometry.asGeometryCollection()
                 if p.type() == QgsWkbTypes.PolygonGeometry and not p.isEmpty() and p.area() > 0]
        if not parts:
            continue
        polygon = QgsGeometry.collectGeometry(parts)
        if QgsWkbTypes.isCurvedType(polygon.wkbType()):
            polygon = QgsGeometry(polygon.constGet().segmentize())
        polygon.get().dropZValue()
        polygon.get().dropMValue()
        out = QgsFeature()
        out.setGeometry(polygon)
        writer.addFeature(out)
        written += 1
    del writer
    if written == 0:
        os.remove(path)
        raise QgsProcessingException('CLIP has no polygon inside EXTENT: no point would be kept' if cut is not None
                                     else 'CLIP has no polygon (with "Selected features only", select some first)')
    feedback.pushInfo('{} polygons of CLIP written to {}'.format(written, path))
    return ['--clip', path], path
