#!/usr/bin/python3
"""The QGIS plugin in a headless QGIS: the plugin loaded from its folder and
its provider registered as QGIS registers it, then tessaline:convert run
through processing.run against the program run directly.

    test_plugin.py [TestCase...]

Environment: TESSALINE (the program), MAKE_SAMPLE (the example's LAS
writer), TESTDATA (the real files), PLUGINS (the folder holding tessaline/),
QGIS_PLUGIN_SCRIPT (scripts/qgis-plugin), VERSION. Exits 77 (skipped) where
QGIS is not installed, or when every test it ran was skipped."""
import configparser
import os
import pathlib
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

if os.environ.get('SANITIZED') == '1':
    print('the plugin is Python: the plain suite checks it')
    sys.exit(77)
os.environ['QT_QPA_PLATFORM'] = 'offscreen'
sys.path.insert(0, '/usr/share/qgis/python/plugins')
try:
    from qgis.core import (QgsApplication, QgsFeature, QgsGeometry, QgsProcessingException,
                           QgsProcessingFeatureSourceDefinition, QgsProcessingFeedback, QgsProject, QgsVectorLayer)
except ImportError:
    print('QGIS is not installed (python3-qgis, scripts/deps test): skipped')
    sys.exit(77)

TESSALINE = os.environ['TESSALINE']
TESTDATA = os.environ['TESTDATA']
PLUGINS = os.environ['PLUGINS']
OUTPUTS = ('.shp', '.shx', '.dbf', '.prj')

app = QgsApplication([], False)
app.initQgis()
import processing  # noqa: E402
import qgis.utils  # noqa: E402
from processing.core.Processing import Processing  # noqa: E402
from processing.core.ProcessingConfig import ProcessingConfig  # noqa: E402

Processing.initialize()
# As QGIS starts a plugin that has a Processing provider.
sys.path.insert(0, PLUGINS)
qgis.utils.plugin_paths.insert(0, PLUGINS)
assert qgis.utils.loadPlugin('tessaline') and qgis.utils.startProcessingPlugin('tessaline')
ProcessingConfig.setSettingValue('TESSALINE_PROGRAM', TESSALINE)
QgsApplication.processingRegistry().providerById('tessaline').refreshAlgorithms()
HELP = subprocess.run([TESSALINE, '--help'], stdout=subprocess.PIPE, text=True).stdout


def shared(name):
    path = os.path.join(TESTDATA, name)
    if not os.path.exists(path):
        raise unittest.SkipTest('no ' + path)
    return path


def needs(option):
    if option not in HELP:
        raise unittest.SkipTest('Tessaline has no ' + option)


def children():
    """The processes that this one started and that are still there."""
    found = set()
    for pid in filter(str.isdigit, os.listdir('/proc')):
        try:
            with open('/proc/{}/stat'.format(pid)) as f:
                if int(f.read().rsplit(')', 1)[1].split()[1]) == os.getpid():
                    found.add(int(pid))
        except OSError:
            pass
    return found


def outputs(stem):
    """The bytes of a shapefile's files that exist."""
    return {ext: pathlib.Path(stem + ext).read_bytes() for ext in OUTPUTS if os.path.exists(stem + ext)}


class Feedback(QgsProcessingFeedback):
    """Keeps the progress and the console lines; cancels at the first
    console line that starts with `cancel_at` when one is given."""

    def __init__(self, cancel_at=None):
        super().__init__()
        self.progress, self.lines, self.cancel_at = [], [], cancel_at
        self.progressChanged.connect(self.progress.append)

    def pushConsoleInfo(self, text):  # noqa: N802
        self.lines.append(text)
        if self.cancel_at is not None and text.startswith(self.cancel_at):
            self.cancel()


class WebServer:
    """nginx on 127.0.0.1 serving a folder with range requests, as the C++
    tests run it; under /slow/ each answer at 100 kB/s."""

    def __init__(self, root):
        self.dir = tempfile.mkdtemp()
        with socket.socket() as s:
            s.bind(('127.0.0.1', 0))
            self.port = s.getsockname()[1]
        temps = ''.join('  {0}_temp_path {1}/{0};\n'.format(t, self.dir)
                        for t in ('client_body', 'proxy', 'fastcgi', 'uwsgi', 'scgi'))
        conf = ('daemon off;\nmaster_process off;\npid {0}/nginx.pid;\nerror_log {0}/error.log;\n'
                'events {{ worker_connections 64; }}\nhttp {{\n  log_format sent $body_bytes_sent;\n'
                '  access_log {0}/access.log sent;\n{1}'
                '  default_type application/octet-stream;\n  server {{\n    listen 127.0.0.1:{2};\n'
                '    root {3};\n    location /slow/ {{ alias {3}/; limit_rate 100k; }}\n  }}\n}}\n'
                ).format(self.dir, temps, self.port, root)
        with open(os.path.join(self.dir, 'nginx.conf'), 'w') as f:
            f.write(conf)
        self.process = subprocess.Popen(['/usr/bin/timeout', '600', '/usr/sbin/nginx', '-p', self.dir + '/', '-c',
                                         self.dir + '/nginx.conf', '-e', self.dir + '/error.log'])
        for _ in range(100):
            try:
                socket.create_connection(('127.0.0.1', self.port)).close()
                return
            except OSError:
                time.sleep(0.05)
        raise unittest.SkipTest('nginx did not start')

    def bytes_sent(self):
        """The bytes of the answers that nginx has finished (whole or cut short)."""
        with open(os.path.join(self.dir, 'access.log')) as f:
            return sum(int(line) for line in f)

    def url(self, path):
        return 'http://127.0.0.1:{}/{}'.format(self.port, path)

    def stop(self):
        self.process.terminate()
        self.process.wait()
        shutil.rmtree(self.dir)


class Case(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def program(self, args, stem):
        """The program's own outputs for `args` (its inputs included)."""
        run = subprocess.run([TESSALINE, '--output', self.path(stem + '.shp')] + args, stdout=subprocess.PIPE,
                             cwd=self.dir, text=True)
        self.assertEqual(run.returncode, 0, run.stdout)
        return outputs(self.path(stem))

    def convert(self, parameters, stem='plugin', feedback=None, load=False):
        parameters = dict(parameters, OUTPUT=self.path(stem + '.shp'))
        run = processing.runAndLoadResults if load else processing.run
        return run('tessaline:convert', parameters, feedback=feedback or Feedback())

    def sample(self, name, points):
        subprocess.run([os.environ['MAKE_SAMPLE'], self.path(name), str(points)], check=True,
                       stdout=subprocess.DEVNULL)
        return self.path(name)


class ConvertGivesTheProgramsBytes(Case):
    """The plugin's parameters against the program's options, for the same inputs."""

    def check(self, inputs, parameters, args, needed=None):
        if needed:
            needs(needed)
        self.convert(dict(parameters, INPUT=inputs))
        expected = self.program(args + inputs, 'expected')
        self.assertEqual(outputs(self.path('plugin')), expected)
        self.assertIn('.shp', expected)

    def test_files_and_selections(self):
        autzen = shared('autzen_trim.las')
        for inputs, parameters, args, needed in [
                ([autzen], {'CLASSES': [], 'RETURNS': [], 'THIN': 0}, [], None),
                ([shared('laz/autzen_trim.laz')], {'CLASSES': [2, 5], 'RETURNS': [0, 4]},
                 ['--class', '2,5', '--returns', 'first,2'], None),
                ([autzen], {'RETURNS': [1, 2, 17], 'THIN': 2.5}, ['--returns', 'last,single,15', '--thin', '2.5'],
                 None),
                ([shared('laz/pdrf6-1.4.laz'), shared('laz/pdrf6-1.4.las')], {'CLASSES': [1]}, ['--class', '1'],
                 '--clip')]:
            with self.subTest(inputs=inputs, parameters=parameters):
                self.check(inputs, parameters, args, needed)

    def test_outputs_in_the_users_terms(self):
        autzen = shared('autzen_trim.las')
        rows = [('--crs', {'CRS': 'EPSG:32610'}, ['--crs', 'EPSG:32610']),
                ('--columns', {'COLUMNS': ' classifica,Intensity '}, ['--columns', 'classifica,Intensity'])]
        if not any(option + ' ' in HELP for option, _, _ in rows):
            raise unittest.SkipTest('Tessaline has neither --crs nor --columns')
        for option, parameters, args in rows:
            if option + ' ' in HELP:
                with self.subTest(parameters=parameters):
                    self.check([autzen], parameters, args)

    def test_url(self):
        server = WebServer(TESTDATA)
        self.addCleanup(server.stop)
        shared('laz/autzen_trim.laz')
        self.check([server.url('laz/autzen_trim.laz')], {'CLASSES': [2]}, ['--class', '2'])

    def test_areas(self):
        needs('--clip')
        autzen = shared('autzen_trim.las')
        # Three squares in the survey's own system (NAD83(HARN) / Oregon
        # Lambert, feet); two selected.
        layer = QgsVectorLayer('Polygon?crs=EPSG:2994', 'areas', 'memory')
        squares = ['POLYGON((636200 849000,636500 849000,636500 849300,636200 849300,636200 849000))',
                   'POLYGON((636700 849100,637000 849100,637000 849400,636700 849400,636700 849100))',
                   'POLYGON((636000 848950,636150 848950,636150 849100,636000 849100,636000 848950))']
        for wkt in squares:
            feature = QgsFeature()
            feature.setGeometry(QgsGeometry.fromWkt(wkt))
            layer.dataProvider().addFeature(feature)
        layer.selectByIds([f.id() for f in layer.getFeatures()][:2])
        QgsProject.instance().addMapLayer(layer)
        self.addCleanup(QgsProject.instance().removeMapLayer, layer.id())
        selected = QgsProcessingFeatureSourceDefinition(layer.id(), selectedFeaturesOnly=True)
        lonlat = '-123.0722,-123.0701,44.0502,44.0512 [EPSG:4326]'
        lonlat_polygon = 'POLYGON((-123.0722 44.0502,-123.0701 44.0502,-123.0701 44.0512,-123.0722 44.0512,-123.0722 44.0502))'
        for parameters, args in [
                ({'EXTENT': '636300,636900,849000,849400'}, ['--extent', '636300,849000,636900,849400']),
                ({'EXTENT': lonlat}, ['--clip', lonlat_polygon, '--clip-crs', 'EPSG:4326']),
                ({'CLIP': selected, 'CLASSES': [2]},
                 ['--clip', 'MULTIPOLYGON(({}),({}))'.format(squares[0][8:-1], squares[1][8:-1]),
                  '--clip-crs', 'EPSG:2994', '--class', '2']),
                ({'CLIP': selected, 'EXTENT': '636400,636800,849050,849350 [EPSG:2994]'},
                 ['--clip', 'MULTIPOLYGON(((636400 849050,636500 849050,636500 849300,636400 849300,636400 849050)),'
                  '((636700 849100,636800 849100,636800 849350,636700 849350,636700 849100)))',
                  '--clip-crs', 'EPSG:2994'])]:
            with self.subTest(parameters=parameters):
                self.check([autzen], parameters, args)


class RunsAsAProcessingAlgorithm(Case):
    def test_parameters_follow_the_programs_options(self):
        alg = QgsApplication.processingRegistry().algorithmById('tessaline:convert')
        expected = ['INPUT', 'CLASSES', 'RETURNS', 'THIN']
        for option, names in [('--clip ', ['EXTENT', 'CLIP']), ('--crs ', ['CRS']), ('--columns ', ['COLUMNS']),
                              ('--max-size ', ['SPLIT'])]:
            expected += names if option in HELP else []
        self.assertEqual([d.name() for d in alg.parameterDefinitions()], expected + ['OUTPUT'])

    def test_output_layer_loaded_and_named(self):
        autzen = shared('autzen_trim.las')
        result = self.convert({'INPUT': [autzen], 'CLASSES': [2]}, stem='ground', load=True)
        self.assertEqual(result['OUTPUT'], self.path('ground.shp'))
        layers = QgsProject.instance().mapLayersByName('ground')
        self.assertEqual(len(layers), 1)
        self.addCleanup(QgsProject.instance().removeMapLayer, layers[0].id())
        self.assertEqual(layers[0].source(), self.path('ground.shp'))
        self.assertEqual(layers[0].featureCount(), (os.path.getsize(self.path('ground.shx')) - 100) // 8)
        if '--max-size ' in HELP:
            with self.subTest('SPLIT'):
                result = self.convert({'INPUT': [autzen], 'CLASSES': [2], 'SPLIT': True}, stem='parts', load=True)
                self.assertEqual(result['OUTPUT'], self.path('parts_1.shp'))
                layers = QgsProject.instance().mapLayersByName('parts_1')
                self.assertEqual([layer.source() for layer in layers], [self.path('parts_1.shp')])
                self.addCleanup(QgsProject.instance().removeMapLayer, layers[0].id())

    def test_progress_follows_the_percentages_to_100(self):
        tiles = self.sample('tiles.las', 2200000)
        feedback = Feedback()
        self.convert({'INPUT': [tiles], 'THIN': 50}, feedback=feedback)
        self.assertEqual([round(p, 2) for p in feedback.progress], [45.45, 90.91, 100])

    def test_cancel_stops_the_program_and_leaves_no_output(self):
        server = WebServer(self.dir)
        self.addCleanup(server.stop)
        self.sample('slow.las', 300000)  # 10 MB: over a minute at 100 kB/s
        cases = [({}, '')]
        if '--max-size ' in HELP:
            # Stopped once its first part has begun, the part goes too; an
            # earlier run's part of a higher number stays.
            cases.append(({'SPLIT': True}, 'Part 1:'))
        for extra, cancel_at in cases:
            with self.subTest(parameters=extra):
                out = self.path('out' + str(len(extra)))
                os.mkdir(out)
                kept = {'slow_7.shp'} if extra else set()
                for name in kept:
                    pathlib.Path(out, name).write_bytes(b'an earlier run')
                before = server.bytes_sent()
                with self.assertRaisesRegex(QgsProcessingException, '^Canceled: Tessaline was stopped'):
                    self.convert(dict({'INPUT': [server.url('slow/slow.las')]}, **extra), stem=out + '/slow',
                                 feedback=Feedback(cancel_at=cancel_at))
                self.assertEqual(set(os.listdir(out)), kept)
                # A run that went on would have read every point before it ended.
                self.assertLess(server.bytes_sent() - before, os.path.getsize(self.path('slow.las')) // 2)
                self.assertEqual(children() - {server.process.pid}, set())


class ConvertTilesGivesEachTilesConversion(Case):
    def test_folder_and_files(self):
        os.mkdir(self.path('tiles'))
        for name, points in [('a.las', 1000), ('b.las', 3000), ('refused.las', 1000)]:
            self.sample(os.path.join('tiles', name), points)
        os.truncate(self.path('tiles/refused.las'), 2000)
        shutil.copyfile(self.path('tiles/a.las'), self.path('tiles/a.laz'))  # left out: a.las is beside it
        os.mkdir(self.path('out'))
        for parameters, written in [
                ({'FOLDER': self.path('tiles'), 'OUTPUT_FOLDER': self.path('out')}, ['out/a', 'out/b']),
                ({'INPUT': [self.path('tiles/b.las'), self.path('tiles/a.las')]}, ['tiles/b', 'tiles/a'])]:
            with self.subTest(parameters=parameters):
                feedback = Feedback()
                result = processing.run('tessaline:convert_tiles', dict(parameters, CLASSES=[2], THIN=3),
                                        feedback=feedback)
                self.assertEqual(result['OUTPUTS'], [self.path(stem + '.shp') for stem in written])
                for stem in written:
                    tile = os.path.join(self.dir, 'tiles', os.path.basename(stem) + '.las')
                    expected = self.program(['--class', '2', '--thin', '3', tile], 'expected')
                    self.assertEqual(outputs(self.path(stem)), expected)
                self.assertEqual(result['CONVERTED'], 2)
                self.assertEqual(feedback.progress[-1], 100)


class RefusalsRaiseTheProgramsMessage(Case):
    def test_refused_inputs(self):
        damaged = self.path('damaged.laz')
        shutil.copyfile(shared('laz/autzen_trim.laz'), damaged)
        with open(damaged, 'r+b') as f:
            f.seek(300000)
            f.write(b'\xff' * 5000)
        truncated = self.sample('truncated.las', 1000)
        os.truncate(truncated, os.path.getsize(truncated) - 500 * 34)
        for name, message in [
                (damaged, 'Cannot decompress {0}: chunk 2 is damaged'),
                (truncated, '{0} is truncated: 1000 point records declared, 500 present'),
                (shared('laz/broken_coder.laz'),
                 'Cannot decompress {0}: unknown LASzip coder 15\n{0} is not a valid LAS file'),
                (self.path('missing.las'), 'Cannot open binary file {0} for reading')]:
            with self.subTest(name=name):
                with self.assertRaises(QgsProcessingException) as raised:
                    self.convert({'INPUT': [name]})
                self.assertEqual(str(raised.exception), message.format(name))
                self.assertEqual(outputs(self.path('plugin')), {})

    def test_missing_program_names_the_setting(self):
        self.addCleanup(ProcessingConfig.setSettingValue, 'TESSALINE_PROGRAM', TESSALINE)
        path = os.environ['PATH']
        self.addCleanup(os.environ.__setitem__, 'PATH', path)
        os.environ['PATH'] = self.dir
        for setting, message in [(self.path('Tessaline'), '^The Tessaline program "{}" does not exist: correct '),
                                 ('', '^The Tessaline program was not found: ')]:
            # As a program set, then removed (the setting's own check refuses a missing file).
            ProcessingConfig.settings['TESSALINE_PROGRAM'].value = setting
            with self.subTest(setting=setting):
                with self.assertRaisesRegex(QgsProcessingException, message.format(setting) +
                                            r'.*Providers > Tessaline > "Tessaline program" \(TESSALINE_PROGRAM\)'):
                    self.convert({'INPUT': [self.path('a.las')]})


class PluginZip(Case):
    def test_zip_holds_the_plugin_and_its_metadata(self):
        run = subprocess.run([os.environ['QGIS_PLUGIN_SCRIPT']], env=dict(os.environ, QGIS_PLUGIN_BUILD=self.dir),
                             stdout=subprocess.PIPE, text=True, check=True)
        name = 'tessaline-qgis-{}.zip'.format(os.environ['VERSION'])
        self.assertEqual(run.stdout.splitlines()[-1], 'Plugin: ' + self.path(name))
        plugin = os.path.join(PLUGINS, 'tessaline')
        source = sorted('tessaline/' + f for f in os.listdir(plugin) if not f.startswith(('.', '__pycache__')))
        with zipfile.ZipFile(self.path(name)) as z:
            self.assertEqual(sorted(z.namelist()), source)
            for f in source:
                self.assertEqual(z.read(f), pathlib.Path(PLUGINS, f).read_bytes(), f)
            metadata = configparser.ConfigParser()
            metadata.read_string(z.read('tessaline/metadata.txt').decode('utf-8'))
        general = metadata['general']
        for key in ('name', 'qgisMinimumVersion', 'description', 'about', 'version', 'author', 'email',
                    'repository', 'tracker', 'license', 'icon'):
            self.assertTrue(general.get(key), key)
        self.assertEqual(general['version'], os.environ['VERSION'])
        self.assertEqual(general['hasProcessingProvider'], 'yes')
        self.assertIn('tessaline/' + general['icon'], source)


if __name__ == '__main__':
    result = unittest.main(exit=False, verbosity=2).result
    if result.testsRun and len(result.skipped) == result.testsRun:
        sys.exit(77)
    sys.exit(0 if result.wasSuccessful() else 1)
