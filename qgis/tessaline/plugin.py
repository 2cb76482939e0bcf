"""The plugin only registers the Processing provider; it needs no interface,
so it works in a headless QGIS and in qgis_process (iface None)."""
from qgis.core import QgsApplication

from .provider import TessalineProvider


class TessalinePlugin:
    def __init__(self, iface):
        self.iface = iface
        self.provider = None

    def initProcessing(self):  # noqa: N802
        if self.provider is None:
            self.provider = TessalineProvider()
            QgsApplication.processingRegistry().addProvider(self.provider)

    def initGui(self):  # noqa: N802
        self.initProcessing()

    def unload(self):
        if self.provider is not None:
            QgsApplication.processingRegistry().removeProvider(self.provider)
            self.provider = None
