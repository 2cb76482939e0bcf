"""Tessaline's QGIS plugin: a Processing provider that runs the Tessaline program."""


def classFactory(iface):  # noqa: N802 (the name QGIS calls)
    from .plugin import TessalinePlugin
    return TessalinePlugin(iface)
