"""tessaline:convert_tiles, one shapefile per tile: the tiles of a folder, or
several files or URLs, each converted by a run of its own."""
import os
import urllib.parse

from qgis.core import (QgsProcessing, QgsProcessingAlgorithm, QgsProcessingException, QgsProcessingOutputNumber,
                       QgsProcessingOutputMultipleLayers, QgsProcessingParameterFile,
                       QgsProcessingParameterFolderDestination, QgsProcessingParameterMultipleLayers)

from . import parameters as p
from . import program

TILE_EXTENSIONS = ('.las', '.laz')


def folder_tiles(folder):
    """A folder's .las and .laz files in name order (not its subfolders'),
    a .laz beside a .las of the same name left out: both would write the
    same outputs."""
    names = sorted(n for n in os.listdir(folder)
                   if n.lower().endswith(TILE_EXTENSIONS) and os.path.isfile(os.path.join(folder, n)))
    stems = {os.path.splitext(n)[0] for n in names if n.lower().endswith('.las')}
    return [os.path.join(folder, n) for n in names if n.lower().endswith('.las') or os.path.splitext(n)[0] not in stems]


def tile_stem(tile):
    path = urllib.parse.urlsplit(tile).path if '://' in tile else tile
    return os.path.splitext(os.path.basename(path))[0]


class ConvertTilesAlgorithm(QgsProcessingAlgorithm):
    def __init__(self, options=None):
        super().__init__()
        self.options = options

    def createInstance(self):  # noqa: N802
        return ConvertTilesAlgorithm(self.options)

    def name(self):
        return 'convert_tiles'

    def displayName(self):  # noqa: N802
        return 'Convert tiles to shapefiles'

    def shortHelpString(self):  # noqa: N802
        return ('Converts each LAS or LAZ tile into a shapefile of its own, named as the tile: the tiles of a '
                'folder (its .las and .laz files; a .laz beside a .las of the same name is left out) and the '
                'files or URLs listed, one run of Tessaline after another. The shapefiles are written beside '
                'their tiles, or into the output folder where one is given (URLs need one). Every tile keeps the '
                'points that pass the same selection. A tile that is refused is named in the log and the others '
                'go on.')

    def initAlgorithm(self, config=None):  # noqa: N802
        self.addParameter(QgsProcessingParameterFile(
            'FOLDER', 'Folder of tiles', QgsProcessingParameterFile.Folder, optional=True))
        self.addParameter(QgsProcessingParameterMultipleLayers(
            'INPUT', 'Tiles (LAS or LAZ files, or URLs)', QgsProcessing.TypeFile, optional=True))
        p.add_selection(self, self.options)
        p.add_optional(self, self.options)
        self.addParameter(QgsProcessingParameterFolderDestination(
            'OUTPUT_FOLDER', 'Output folder (none: beside each tile)', optional=True, createByDefault=False))
        self.addOutput(QgsProcessingOutputMultipleLayers('OUTPUTS', 'Shapefiles'))
        self.addOutput(QgsProcessingOutputNumber('CONVERTED', 'Tiles converted'))

    def processAlgorithm(self, parameters, context, feedback):  # noqa: N802
        exe = program.find()
        tiles = []
        folder = self.parameterAsFile(parameters, 'FOLDER', context)
        if folder:
            if not os.path.isdir(folder):
                raise QgsProcessingException('FOLDER "{}" is not a folder'.format(folder))
            tiles += folder_tiles(folder)
        tiles += p.inputs(self, parameters, 'INPUT', context)
        if not tiles:
            raise QgsProcessingException('No tile to convert: FOLDER holds no .las or .laz file and INPUT names none')
        out_folder = self.parameterAsString(parameters, 'OUTPUT_FOLDER', context)
        if out_folder:
            os.makedirs(out_folder, exist_ok=True)
        outputs = {}
        for tile in tiles:
            if not out_folder and '://' in tile:
                raise QgsProcessingException('{} is a URL: give OUTPUT_FOLDER for its shapefile'.format(tile))
            where = out_folder or os.path.dirname(tile)
            shp = os.path.join(where, tile_stem(tile) + '.shp')
            if shp in outputs.values():
                other = next(t for t, s in outputs.items() if s == shp)
                raise QgsProcessingException('{} and {} would both write {}'.format(other, tile, shp))
            outputs[tile] = shp
        area, clip_file = p.area_arguments(self, parameters, context, feedback)
        options = p.selection_arguments(self, parameters, context) + area + p.optional_arguments(
            self, parameters, context)
        written, failed = [], []
        try:
            for i, tile in enumerate(tiles):
                feedback.pushInfo('[{}/{}] {}'.format(i + 1, len(tiles), tile))
                try:
                    lines = program.run([exe] + options + ['--output', outputs[tile], '--', tile], feedback,
                                        outputs[tile], lambda pct, i=i: (i + pct / 100) * 100 / len(tiles))
                    written.append(program.written(lines, outputs[tile]))
                except QgsProcessingException as e:
                    if feedback.isCanceled():
                        raise
                    failed.append((tile, str(e).split('\n')[0]))
                    feedback.reportError('{}: {}'.format(tile, e))
                feedback.setProgress((i + 1) * 100 / len(tiles))
        finally:
            if clip_file:
                os.remove(clip_file)
        feedback.pushInfo('Converted {} of {} tiles'.format(len(written), len(tiles)))
        if failed:
            feedback.reportError('Refused or failed: {}\n'.format(len(failed)) +
                                 '\n'.join('  {}: {}'.format(t, why) for t, why in failed))
        if not written:
            raise QgsProcessingException('No tile was converted')
        # With --max-size a tile's shapefile is its parts, each a layer.
        return {'OUTPUTS': [shp for parts in written for shp in parts], 'CONVERTED': len(written),
                'OUTPUT_FOLDER': out_folder}
