"""tessaline:convert, one or more LAS/LAZ files or URLs into one shapefile."""
import os

from qgis.core import (QgsProcessing, QgsProcessingAlgorithm, QgsProcessingContext, QgsProcessingException,
                       QgsProcessingParameterMultipleLayers, QgsProcessingParameterVectorDestination,
                       QgsProcessingUtils)

from . import parameters as p
from . import program
from .convert_tiles import tile_stem


class ConvertAlgorithm(QgsProcessingAlgorithm):
    def __init__(self, options=None):
        super().__init__()
        self.options = options  # the program's options, None where unknown

    def createInstance(self):  # noqa: N802
        return ConvertAlgorithm(self.options)

    def name(self):
        return 'convert'

    def displayName(self):  # noqa: N802
        return 'Convert LAS/LAZ to shapefile'

    def shortHelpString(self):  # noqa: N802
        return ('Converts LAS or LAZ files (or their http(s) URLs) into one ESRI Shapefile of PointZ shapes, '
                'with the points\' attributes in its table, by running the Tessaline program. Only the points '
                'that pass every selection are kept: the classes and returns chosen (none chosen: all), those '
                'inside the extent and the clip\'s polygons (both given: the polygons\' part inside the extent), '
                'then the first point of each thinning square. Several inputs must share one table and one '
                'coordinate system; they are written in the order given.')

    def initAlgorithm(self, config=None):  # noqa: N802
        self.addParameter(QgsProcessingParameterMultipleLayers(
            'INPUT', 'LAS or LAZ files (or URLs, or point-cloud layers)', QgsProcessing.TypeFile))
        p.add_selection(self, self.options)
        p.add_optional(self, self.options)
        self.addParameter(QgsProcessingParameterVectorDestination(
            'OUTPUT', 'Shapefile', QgsProcessing.TypeVectorPoint))

    def processAlgorithm(self, parameters, context, feedback):  # noqa: N802
        exe = program.find()
        inputs = p.inputs(self, parameters, 'INPUT', context)
        if not inputs:
            raise QgsProcessingException('INPUT names no LAS or LAZ file')
        output = self.parameterAsOutputLayer(parameters, 'OUTPUT', context)
        if not output.endswith('.shp'):
            raise QgsProcessingException('OUTPUT must be a shapefile whose name ends in .shp, not "{}"'.format(output))
        area, clip_file = p.area_arguments(self, parameters, context, feedback)
        arguments = ([exe] + p.selection_arguments(self, parameters, context) + area +
                     p.optional_arguments(self, parameters, context) + ['--output', output, '--'] + inputs)
        try:
            lines = program.run(arguments, feedback, output)
        finally:
            if clip_file:
                os.remove(clip_file)
        feedback.setProgress(100)
        shapefiles = program.written(lines, output)
        if context.willLoadLayerOnCompletion(output):
            details = context.layerToLoadOnCompletionDetails(output)
            # Named as its file, or as the first input where QGIS named a temporary file.
            temporary = os.path.dirname(os.path.dirname(output)) == QgsProcessingUtils.tempFolder()
            name = tile_stem(inputs[0] if temporary else output)
            if shapefiles == [output]:
                details.name = name
                details.layerTypeHint = QgsProcessingUtils.LayerHint.Vector
            else:
                # Parts: each loads as a layer of its own, NAME_1, NAME_2, ...
                layers = context.layersToLoadOnCompletion()
                del layers[output]
                for k, part in enumerate(shapefiles, 1):
                    part_details = QgsProcessingContext.LayerDetails('{}_{}'.format(name, k), context.project(), 'OUTPUT')
                    part_details.layerTypeHint = QgsProcessingUtils.LayerHint.Vector
                    layers[part] = part_details
                context.setLayersToLoadOnCompletion(layers)
        return {'OUTPUT': shapefiles[0]}
