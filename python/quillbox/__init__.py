"""Record from and drive an E-270 acquisition module.

The package talks to the Quillbox driver component (Quillbox.adc) the way the ``quillbox``
command does, and gives recordings as numpy arrays::

    import quillbox
    with quillbox.open() as m:
        rec = m.record(channels=[0, 1, 16], rate=50.0, seconds=2)
    rec.values        # float32 (frames, channels), in the channels' units
    rec.time          # float64 seconds from the first frame

Without hardware the simulated bench behind the component serves; ``bench=`` or
``QUILLBOX_BENCH`` names a bench file, ``QUILLBOX_TIME_SCALE`` runs its clock faster.
"""

import atexit
import datetime
import json
import math
import operator
import os
import warnings
import weakref

import numpy as np

from . import _core

__all__ = ["Error", "devices", "open", "Module", "DigitalIO", "Recording", "Stream"]
__version__ = _core.__version__

Error = _core.Error
Error.__module__ = __name__
Error.__doc__ = """A failure the driver component reports, with its own text.

For example "No found E-270 on USB or COM ports!" when no module can be opened, or "Reduce
Sampling Rate!" for a rate above the module's highest. A recording that ends early because the
module stopped delivering data carries the frames received so far as ``recording``.
"""

_open_modules = weakref.WeakSet()


def devices(bench=None):
    """List the E-270 modules attached on USB.

    Returns a list of dicts such as ``{"device": 0, "port": "USB1", "board": "E-270",
    "serial": "27000123"}``. A module that another process has open is not listed.

    bench: a simulated bench file to load, as for :func:`open`.
    """
    return json.loads(_core.devices_json(_bench_path(bench)))


def open(device=None, bench=None):
    """Open an E-270 module and return it as a :class:`Module`.

    Use it as a context manager (``with quillbox.open() as m:``) or call ``m.close()``: closing
    stops a running recording, stores the driver's settings and frees the module for other
    processes. One module can be open in a process at a time.

    device: which module to open: its serial ("27000123"), its port as :func:`devices` lists it
        ("USB1", any case), its device number (0 for USB1), or "COM1".."COM8" for a module on a
        serial port. Default: ``QUILLBOX_DEVICE``, else the only module (with several, the
        driver's device dialog asks).
    bench: path of a simulated bench file (default: ``QUILLBOX_BENCH``, else the built-in
        bench). The bench is read once per process, at the first use of the component.

    Raises Error with the component's text when the module cannot be opened.
    """
    if device is None or isinstance(device, str):
        choice = device
    elif isinstance(device, int) and not isinstance(device, bool):
        if device < 0:
            raise ValueError(f"device: {device} is not a device number")
        choice = f"USB{device + 1}"
    else:
        raise TypeError(f"device: a serial, a port name or a device number, not {device!r}")
    _core.load(_bench_path(bench))
    return Module(_core.Driver(choice))


def _bench_path(bench):
    if bench is None:
        return None
    try:
        return os.fspath(bench)
    except TypeError:
        raise TypeError(f"bench: a file path, not {bench!r}") from None


class _Closing:
    """Closes on leaving a ``with`` block and when garbage collected."""

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass


class Module(_Closing):
    """An opened E-270 module (made by :func:`open`).

    Attributes: ``info`` (dict, as ``quillbox info --json``), ``channel_names``, ``units`` and
    ``scales`` (one entry per logical channel; value = code / scale), ``rate_max``, ``dio``
    (:class:`DigitalIO`), ``serial``.
    """

    def __init__(self, driver):
        self._driver = driver
        self.dio = DigitalIO(driver)
        _open_modules.add(self)

    def __repr__(self):
        if self.closed:
            return "<quillbox.Module closed>"
        board = self.info.get("board", {})
        return f"<quillbox.Module {board.get('name')} {board.get('serial')} on {board.get('port')}>"

    def close(self):
        """Stop a running recording, store the driver's settings and close the module."""
        problem = self._driver.close()
        if problem:
            warnings.warn(f"quillbox: settings store {problem}", RuntimeWarning, stacklevel=2)

    @property
    def closed(self):
        """True once the module was closed."""
        return self._driver.closed

    @property
    def info(self):
        """What the driver knows about the module: board, mezzanines, ranges, channels, lines."""
        return json.loads(self._driver.info_json())

    @property
    def serial(self):
        """The module's serial text."""
        return self.info.get("board", {}).get("serial", "")

    @property
    def channel_names(self):
        """Names of the logical channels, by channel number."""
        return self._driver.channels()[0]

    @property
    def units(self):
        """Units of the logical channels ("" where the module gives none)."""
        return self._driver.channels()[1]

    @property
    def scales(self):
        """Codes per unit of the logical channels: value = code / scale."""
        return [_shortest(s) for s in self._driver.channels()[2]]

    @property
    def rate_max(self):
        """The highest frame rate in Hz."""
        return self._driver.rate_max()

    @property
    def busy(self):
        """True while a recording runs."""
        return self._driver.busy()

    def read(self, channels, raw=False):
        """Read the current value of each channel; returns numpy float32 (int16 codes if raw)."""
        columns = _Columns(self._driver, _scan_list(channels, len(self.channel_names)), raw)
        return columns.values(np.array([self._driver.read(columns.channels)], np.int16))[0]

    def record(self, channels=None, rate=None, frames=None, seconds=None, raw=False, ring=None):
        """Record and return a :class:`Recording` once every frame has arrived.

        channels: channel numbers, e.g. [0, 1, 16] (default: the driver's stored scan list).
        rate: frames per second (default: the stored rate). The module delivers the nearest
            rate its clock divider allows; ``Recording.rate`` says which.
        frames or seconds: how much to record (default 10 seconds).
        raw: int16 codes instead of float32 values in the channels' units.
        ring: the driver's ring size in frames.

        Waiting releases the GIL. Ctrl-C stops the recording and raises KeyboardInterrupt.
        Raises Error when the component refuses the start or the module stops delivering data
        (the frames so far are then in the error's ``recording``).
        """
        if frames is not None and seconds is not None:
            raise TypeError("record() takes frames or seconds, not both")
        if frames is not None:
            frames = _whole(frames, "frames")
        if seconds is not None:
            seconds = _number(seconds, "seconds", 1e9)
        columns = self._start(channels, rate, raw, ring)
        try:
            target = frames if frames is not None else max(1, round((seconds or 10.0) * columns.rate))
            codes = np.empty((target, len(columns.channels)), np.int16)
            got = self._driver.take(codes, 0, False)
        finally:
            self._driver.stop()
        recording = Recording(columns, codes[:got])
        if got < target:
            error = Error(_stalled(self._driver, f"after {got} of {target} frames"))
            error.recording = recording
            raise error
        return recording

    def stream(self, channels=None, rate=None, raw=False, ring=None, frames=None):
        """Start a recording and return a :class:`Stream` of its blocks of frames.

        ``for block in m.stream([0, 1], 100.0):`` gives numpy arrays (frames, channels) as they
        arrive; leaving the loop, ``Stream.close()`` or closing the module stops the recording.
        Arguments as for :meth:`record`; ``frames`` ends the stream after that many frames.
        """
        limit = None if frames is None else _whole(frames, "frames")
        columns = self._start(channels, rate, raw, ring)
        return Stream(self, columns, limit)

    def _start(self, channels, rate, raw, ring):
        count = len(self.channel_names)
        scan = None if channels is None else _scan_list(channels, count)
        if rate is not None:
            rate = _number(rate, "rate", float(np.finfo(np.float32).max))
            if np.float32(rate) == 0:
                raise ValueError(f"rate: {rate} Hz rounds to 0 Hz")
        if ring is not None:
            ring = _whole(ring, "ring", 2**31 - 1)
        start_utc = datetime.datetime.now(datetime.timezone.utc)
        actual = self._driver.start(scan, rate, ring)
        columns = _Columns(self._driver, self._driver.scan_list(), raw)
        columns.rate, columns.rate_requested, columns.start_utc = actual, rate or actual, start_utc
        columns.serial = self.serial
        return columns


class DigitalIO:
    """The digital lines of a module (``Module.dio``): ``inputs``, ``outputs``, line counts."""

    def __init__(self, driver):
        self._driver = driver

    @property
    def inputs(self):
        """The input lines as an int (line n is bit n)."""
        return self._driver.inputs()

    @property
    def outputs(self):
        """The output lines as an int; assigning writes them, e.g. ``m.dio.outputs = 0x0F``."""
        return self._driver.outputs()

    @outputs.setter
    def outputs(self, value):
        bits = self.output_bits
        value = _whole(value, "outputs", (1 << bits) - 1, 0)
        self._driver.set_outputs(value)

    @property
    def input_bits(self):
        """Number of input lines."""
        return self._driver.dio_lines()[1]

    @property
    def output_bits(self):
        """Number of output lines."""
        return self._driver.dio_lines()[2]


class Recording:
    """A finished recording: ``values`` (frames, channels), ``time`` and its description.

    Attributes: ``values`` (numpy float32 in the channels' units, int16 codes when ``raw``),
    ``time`` (float64 seconds from the first frame), ``rate`` (Hz the module delivered),
    ``rate_requested``, ``channels``, ``names``, ``units``, ``scales``, ``start_utc``
    (datetime), ``serial``, ``raw``. A channel without a usable scale keeps its codes and has
    the unit "code", as in the CLI's CSV.
    """

    def __init__(self, columns, codes):
        self.values = columns.values(codes)
        self.time = np.arange(len(codes), dtype=np.float64) / columns.rate
        self.rate, self.rate_requested = _shortest(columns.rate), columns.rate_requested
        self.channels, self.names = columns.channels, columns.names
        self.units, self.scales = columns.units, columns.scales
        self.start_utc, self.serial, self.raw = columns.start_utc, columns.serial, columns.raw

    def __len__(self):
        return len(self.values)

    def __repr__(self):
        return (f"<quillbox.Recording {len(self)} frames of {len(self.channels)} channels "
                f"at {self.rate:g} Hz>")

    def to_pandas(self):
        """A pandas DataFrame: index ``time_s``, one column "name (unit)" per channel."""
        try:
            import pandas
        except ImportError:
            raise ImportError("Recording.to_pandas needs pandas (Debian: python3-pandas)") from None
        columns = [f"{n} ({u})" for n, u in zip(self.names, self.units)]
        return pandas.DataFrame(self.values, columns=columns,
                                index=pandas.Index(self.time, name="time_s"))


class Stream(_Closing):
    """A running recording given block by block (made by :meth:`Module.stream`).

    Iterating gives numpy arrays (frames, channels) as the module delivers them. Attributes as
    :class:`Recording` (``rate``, ``channels``, ``names``, ``units``, ...), ``frames`` (received
    so far) and ``ring`` (the driver's ring size in frames). Use it in a ``for`` loop, as a
    context manager, or call ``close()``.
    """

    def __init__(self, module, columns, limit):
        # The module stays open while its stream is in use.
        self._module, self._driver = module, module._driver
        self._columns, self._limit = columns, limit
        self.rate, self.rate_requested = _shortest(columns.rate), columns.rate_requested
        self.channels, self.names = columns.channels, columns.names
        self.units, self.scales = columns.units, columns.scales
        self.start_utc, self.serial, self.raw = columns.start_utc, columns.serial, columns.raw
        self.ring = self._driver.ring_frames()
        self.frames = 0
        self.closed = False
        # At most a ring of frames waits in the driver.
        self._buffer = np.empty((max(self.ring, 1), len(self.channels)), np.int16)

    def __iter__(self):
        return self

    def __next__(self):
        if self.closed or (self._limit is not None and self.frames >= self._limit):
            self.close()
            raise StopIteration
        room = len(self._buffer) if self._limit is None else min(len(self._buffer),
                                                                 self._limit - self.frames)
        try:
            got = self._driver.take(self._buffer[:room], 0, True)
        except BaseException:
            self.close()
            raise
        if got == 0:
            message = _stalled(self._driver, f"after {self.frames} frames")
            self.close()
            raise Error(message)
        self.frames += got
        return self._columns.values(self._buffer[:got].copy())

    def close(self):
        """Stop the recording (nothing happens if it was stopped already)."""
        if not self.closed:
            self.closed = True
            if not self._driver.closed:
                self._driver.stop()


class _Columns:
    """The scan list's names, units and scales, and the conversion of its codes to values."""

    def __init__(self, driver, channels, raw):
        names, units, scales = driver.channels()
        self.channels, self.raw = list(channels), bool(raw)
        self.names = [names[c] or f"ch{c}" if 0 <= c < len(names) else f"ch{c}" for c in channels]
        self.scales = [scales[c] if 0 <= c < len(scales) else 0.0 for c in channels]
        scaled = [math.isfinite(s) and s > 0 for s in self.scales]
        self.units = [units[c] if ok else "code" for c, ok in zip(channels, scaled)]
        self._divisors = np.array([s if ok else 1.0 for s, ok in zip(self.scales, scaled)])
        self.scales = [_shortest(s) for s in self._divisors]
        self.rate = self.rate_requested = self.start_utc = self.serial = None

    def values(self, codes):
        if self.raw:
            return codes
        return (codes / self._divisors).astype(np.float32)


def _shortest(scale):
    # The driver's scales are single precision: 1638.4, not 1638.4000244140625.
    return float(str(np.float32(scale)))


def _scan_list(channels, count):
    if isinstance(channels, (str, bytes)):
        raise TypeError("channels: a list of channel numbers, not a string")
    try:
        items = [operator.index(channels)] if hasattr(channels, "__index__") else [
            operator.index(c) for c in channels]
    except TypeError:
        raise TypeError(f"channels: channel numbers must be integers: {channels!r}") from None
    if not items:
        raise ValueError("channels: the scan list is empty")
    for c in items:
        if not 0 <= c < count:
            raise ValueError(f"channels: {c} is not a channel number 0..{count - 1}")
    if len(items) > 32767:
        raise ValueError(f"channels: {len(items)} entries; at most 32767")
    return items


def _number(value, what, most):
    if isinstance(value, bool) or not isinstance(value, (int, float, np.integer, np.floating)):
        raise TypeError(f"{what}: a number, not {value!r}")
    value = float(value)
    if not (math.isfinite(value) and 0 < value <= most):
        raise ValueError(f"{what}: {value} is not a number above 0 and at most {most:g}")
    return value


def _whole(value, what, most=None, least=1):
    if isinstance(value, bool):
        raise TypeError(f"{what}: an integer, not {value!r}")
    try:
        value = operator.index(value)
    except TypeError:
        raise TypeError(f"{what}: an integer, not {value!r}") from None
    if value < least or (most is not None and value > most):
        upper = "" if most is None else f" and at most {most}"
        raise ValueError(f"{what}: {value} is not an integer of at least {least}{upper}")
    return value


def _stalled(driver, progress):
    problem = driver.acquisition_problem()
    return f"the module stopped delivering data{f' ({problem})' if problem else ''} {progress}"


@atexit.register
def _close_all():
    # The driver's recording thread must be gone before the interpreter unloads anything.
    for module in list(_open_modules):
        module.close()
