"""The Processing provider "tessaline": its algorithms, its icon and the
setting that names the program."""
import os

from qgis.core import QgsProcessingProvider
from qgis.PyQt.QtGui import QIcon
from processing.core.ProcessingConfig import ProcessingConfig, Setting

from . import program
from .convert import ConvertAlgorithm
from .convert_tiles import ConvertTilesAlgorithm

ICON = os.path.join(os.path.dirname(__file__), 'icon.svg')


class TessalineProvider(QgsProcessingProvider):
    def id(self):
        return 'tessaline'

    def name(self):
        return 'Tessaline'

    def longName(self):  # noqa: N802
        return 'Tessaline: LAS and LAZ to ESRI Shapefile'

    def icon(self):
        return QIcon(ICON)

    def svgIconPath(self):  # noqa: N802
        return ICON

    def load(self):
        ProcessingConfig.settingIcons[self.name()] = self.icon()
        ProcessingConfig.addSetting(Setting(self.name(), program.SETTING, program.SETTING_LABEL, '',
                                            valuetype=Setting.FILE))
        ProcessingConfig.readSettings()
        self.refreshAlgorithms()
        return True

    def unload(self):
        ProcessingConfig.removeSetting(program.SETTING)

    def loadAlgorithms(self):  # noqa: N802
        # The program's options are read again whenever the algorithms are
        # (Processing refreshes them when its settings change).
        options = program.options()
        self.addAlgorithm(ConvertAlgorithm(options))
        self.addAlgorithm(ConvertTilesAlgorithm(options))

    # The program writes shapefiles only.
    def supportedOutputVectorLayerExtensions(self):  # noqa: N802
        return ['shp']

    def defaultVectorFileExtension(self, hasGeometry=True):  # noqa: N802
        return 'shp'
