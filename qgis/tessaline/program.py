"""Finding the Tessaline program, reading which options it has, and running
it for an algorithm: its percentages as progress, its lines in the log, Cancel
as the end of the process."""
import glob
import os
import queue
import re
import shutil
import subprocess
import threading

from qgis.core import QgsProcessingException
from processing.core.ProcessingConfig import ProcessingConfig

SETTING = 'TESSALINE_PROGRAM'
SETTING_LABEL = 'Tessaline program'
WHERE_TO_SET = ('Settings > Options > Processing > Providers > Tessaline > "{}" ({})'
                .format(SETTING_LABEL, SETTING))
PLUGIN_DIR = os.path.dirname(os.path.abspath(__file__))
EXE = 'Tessaline.exe' if os.name == 'nt' else 'Tessaline'
# A window of its own would flash up for each run on Windows.
NO_WINDOW = getattr(subprocess, 'CREATE_NO_WINDOW', 0)

PROGRESS = re.compile(r'Processing \.\.\.(?: ([0-9.]+)% done)?')
# With --max-size the outputs are parts NAME_1.shp, NAME_2.shp, ..., each
# named on a line of its own as it begins.
PART = re.compile(r'Part ([0-9]+): .*')
OUTPUTS = ('.shp', '.shx', '.dbf', '.prj')


def _part_stem(stem, k):
    return '{}_{}'.format(stem, k)


def in_parts(arguments):
    return any(a == '--max-size' or a.startswith('--max-size=') for a in arguments)


def _parts_named(lines):
    return max([int(m.group(1)) for m in map(PART.fullmatch, lines) if m] or [0])


def written(lines, shapefile):
    """The shapefiles a run that succeeded wrote: `shapefile`, or its parts
    NAME_1.shp to NAME_N.shp as the console named them."""
    parts = _parts_named(lines)
    if parts == 0:
        return [shapefile]
    stem = os.path.splitext(shapefile)[0]
    return [_part_stem(stem, k) + '.shp' for k in range(1, parts + 1)]


def find():
    """The program that the setting names; else Tessaline.exe where the
    Windows zip has it, in the folder the plugin is unpacked in (or the
    plugin's own); else Tessaline on PATH."""
    chosen = ProcessingConfig.getSetting(SETTING)
    if chosen:
        if os.path.isfile(chosen):
            return chosen
        raise QgsProcessingException('The Tessaline program "{}" does not exist: correct {}'.format(chosen, WHERE_TO_SET))
    for folder in (os.path.dirname(PLUGIN_DIR), PLUGIN_DIR):
        beside = os.path.join(folder, EXE)
        if os.path.isfile(beside):
            return beside
    on_path = shutil.which('Tessaline')
    if on_path:
        return on_path
    raise QgsProcessingException('The Tessaline program was not found: install it (the Debian package or the '
                                 'Windows zip), then set its path in {}, or put it on PATH'.format(WHERE_TO_SET))


_help_cache = {}


def options():
    """The long options that the program's --help names ("--clip", ...), or
    None when there is no program to ask (every parameter is then offered:
    a run stops at find() anyway)."""
    try:
        path = find()
        key = (path, os.stat(path).st_mtime_ns)
        if key not in _help_cache:
            text = subprocess.run([path, '--help'], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  stdin=subprocess.DEVNULL, timeout=20, creationflags=NO_WINDOW).stdout
            _help_cache[key] = set(re.findall(r'(?<![\w-])(--[a-z][a-z-]*)', text.decode('utf-8', 'replace')))
        return _help_cache[key]
    except (QgsProcessingException, OSError, subprocess.SubprocessError):
        return None


def _identity(path):
    try:
        s = os.stat(path)
        return (s.st_ino, s.st_size, s.st_mtime_ns)
    except OSError:
        return None


class Console:
    """Splits the program's output into progress and lines, and keeps the
    lines that make its message: those after the last progress text (a
    failure during the run), or else its first paragraph (a refusal before
    the banner)."""

    def __init__(self, feedback, progress):
        self.feedback = feedback
        self.progress = progress  # maps the program's percentage to the algorithm's
        self.pending = b''
        self.lines = []
        self.seen_progress = False
        self.after_progress = []
        self.paragraph = []
        self.paragraph_done = False

    def feed(self, data, last=False):
        text, tail = self.pending + data, b''
        if not last and text.endswith(b'\r'):  # perhaps the first half of a Windows line end
            text, tail = text[:-1], b'\r'
        parts = re.split(rb'([\r\n])', text.replace(b'\r\n', b'\n'))
        rest = parts.pop()
        if last and rest:
            parts, rest = parts + [rest, b'\n'], b''
        self.pending = rest + tail
        for segment, end in zip(parts[0::2], parts[1::2]):
            self._segment(segment.decode('utf-8', 'replace').strip(), end)

    def _segment(self, text, end):
        match = PROGRESS.fullmatch(text)
        if match:
            self.seen_progress, self.after_progress = True, []
            if match.group(1):
                self.feedback.setProgress(self.progress(float(match.group(1))))
            return
        if not text:
            if end == b'\n' and self.paragraph:
                self.paragraph_done = True
            return
        self.feedback.pushConsoleInfo(text)
        self.lines.append(text)
        self.after_progress.append(text)
        if not self.paragraph_done:
            self.paragraph.append(text)

    def message(self):
        return '\n'.join(self.after_progress if self.seen_progress else self.paragraph)


def _quote(arg):
    return arg if re.fullmatch(r'[\w@%+=:,./\\-]+', arg) else '"' + arg.replace('"', '\\"') + '"'


def run(arguments, feedback, shapefile, progress=lambda p: p):
    """Runs the program with `arguments` (its own path first), writing the
    shapefile `shapefile`. On Cancel the process is ended; on Cancel or a
    failure the outputs it had begun (its .shp, .shx, .dbf, .prj that did not
    exist before or changed) are removed and a QgsProcessingException says why."""
    feedback.pushCommandInfo(' '.join(_quote(a) for a in arguments))
    stem = os.path.splitext(shapefile)[0]
    outputs = [stem + ext for ext in OUTPUTS]
    parts = in_parts(arguments)
    if parts:
        # An earlier run's parts: those this run does not write stay as they are.
        outputs = [f for ext in OUTPUTS for f in glob.glob(glob.escape(stem) + '_*' + ext)]
    before = {f: _identity(f) for f in outputs}
    try:
        process = subprocess.Popen(arguments, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                   stdin=subprocess.DEVNULL, creationflags=NO_WINDOW)
    except OSError as e:
        raise QgsProcessingException('Cannot start {}: {}'.format(arguments[0], e))
    chunks = queue.Queue()

    def read():
        while True:
            data = process.stdout.read1(65536)
            chunks.put(data)
            if not data:
                return

    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    console = Console(feedback, progress)
    canceled = False
    while True:
        try:
            data = chunks.get(timeout=0.1)
        except queue.Empty:
            data = None
        if feedback.isCanceled():
            process.kill()
            canceled = True
            break
        if data == b'':
            break
        if data:
            console.feed(data)
    status = process.wait()
    reader.join(5)
    process.stdout.close()
    if not canceled:
        console.feed(b'', last=True)
        if status == 0:
            return console.lines
    if parts:
        # The parts named, and the next one, which may have begun before its line came.
        named = _parts_named(console.lines) + 1
        outputs = [_part_stem(stem, k) + ext for k in range(1, named + 1) for ext in OUTPUTS]
    begun = [f for f in outputs if _identity(f) is not None and _identity(f) != before.get(f)]
    for f in begun:
        try:
            os.remove(f)
        except OSError:
            pass
    removed = ' ({} removed)'.format(', '.join(os.path.basename(f) for f in begun)) if begun else ''
    if canceled:
        feedback.pushInfo('Canceled: Tessaline was stopped' + removed)
        raise QgsProcessingException('Canceled: Tessaline was stopped' + removed)
    if begun:
        feedback.pushInfo('The outputs that Tessaline had begun were removed' + removed)
    raise QgsProcessingException(console.message() or 'Tessaline ended with status {}'.format(status))
