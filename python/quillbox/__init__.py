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
import itertools
import operator
import os
import warnings
import weakref

import numpy as np

from . import _core

# Not `open`: `from quillbox import *` must leave the built-in open alone (quillbox.open it is).
__all__ = ["Error", "RateWarning", "RecordingWarning", "devices", "load", "Module", "DigitalIO",
           "Recording", "Stream"]
__version__ = _core.__version__

Error = _core.Error
Error.__module__ = __name__
Error.__doc__ = """A failure the driver component reports, with its own text.

For example "No found E-270 on USB or COM ports!" when no module can be opened. A recording
that ends early because the module stopped delivering data carries the frames received so far
as ``recording``.
"""



class RateWarning(UserWarning):
    """The rate asked for is above the module's highest; the highest is used."""


class RecordingWarning(UserWarning):
    """Something a recording's writer or reader had to say (a failed output write, a repair)."""


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
        driver's device dialog asks; without a display to show it on, the open is refused).
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
        self._ship_wait = 0.0
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
        scan = _scan_list(channels)
        codes = np.array(self._driver.read(scan), np.int16)
        if raw:
            return codes
        names, units, scales = self._driver.channels()
        divisors = np.array([scales[c] if units[c] != "code" and scales[c] > 0 else 1.0
                             for c in scan])
        return (codes / divisors).astype(np.float32)

    def record(self, channels=None, rate=None, frames=None, seconds=None, raw=False, ring=None,
               to=None, ship_wait=10.0):
        """Record and return a :class:`Recording` once every frame has arrived.

        channels: channel numbers, e.g. [0, 1, 16] (default: the driver's stored scan list).
        rate: frames per second (default: the stored rate). Above :attr:`rate_max` the highest
            rate is used, with a :class:`RateWarning`; the module delivers the nearest rate its
            clock divider allows, and ``Recording.rate`` says which.
        frames or seconds: how much to record (default 10 seconds).
        raw: int16 codes (unit "code") instead of float32 values in the channels' units.
        ring: the driver's ring size in frames.
        to: also ship the recording to this PostgreSQL database (a libpq connection string or
            URI, a password from ~/.pgpass or PGPASSWORD), as ``quillbox record --to`` does; a
            database that cannot keep up never slows the recording, and how the shipping went
            is said as :class:`RecordingWarning`.
        ship_wait: with ``to``, seconds the end waits at most for the frames still to ship.

        The recording runs on the same engine as ``quillbox record``: the same limits, stop
        reasons and frame accounting (``Recording.stop_reason``, ``frames_expected``). Waiting
        releases the GIL. Ctrl-C ends the recording (stop reason "SIGINT") and raises
        KeyboardInterrupt with the frames so far as its ``recording``. Raises ValueError for a
        request the engine refuses and Error when the module refuses it or stops delivering
        data (the frames so far are then in the error's ``recording``).
        """
        if frames is not None and seconds is not None:
            raise TypeError("record() takes frames or seconds, not both")
        if frames is not None:
            frames = _whole(frames, "frames")
        if seconds is not None:
            seconds = _number(seconds, "seconds")
        elif frames is None:
            seconds = 10.0
        description = self._begin(channels, rate, frames, seconds, raw, ring, to, ship_wait)
        width = len(description["channels"])
        codes = np.empty((frames or max(1, round(seconds * description["rate"])), width), np.int16)
        got = 0
        try:
            got = self._driver.take(codes, 0, False)
        except KeyboardInterrupt as interrupt:
            # The frames up to the interrupt, and those the stop still brought.
            got = self._driver.taken_before_interrupt()
            got += self._driver.take(codes, got, True) if got < len(codes) else 0
            interrupt.recording = Recording(self._end("SIGINT"), codes[:got])
            raise
        recording = Recording(self._end("end"), codes[:got])
        if recording.error is not None:
            error = Error(recording.error)
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
        description = self._begin(channels, rate, limit, None, raw, ring, None, 0.0)
        return Stream(self, description)

    def _begin(self, channels, rate, frames, seconds, raw, ring, to, ship_wait):
        scan = None if channels is None else _scan_list(channels)
        if rate is not None:
            rate = _number(rate, "rate")
        if ring is not None:
            ring = _whole(ring, "ring", 2**31 - 1)
        if to is not None and not isinstance(to, str):
            raise TypeError("to: a connection string")
        self._ship_wait = _number(ship_wait, "ship_wait")
        description, messages = self._driver.begin(scan, rate, frames, seconds, bool(raw), ring,
                                                   to)
        _warn(messages)
        return json.loads(description)

    def _end(self, reason):
        description, messages = self._driver.end(reason, self._ship_wait)
        description = json.loads(description)
        _warn(m for m in messages if m != description.get("error"))
        return description


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
    """A recording: ``values`` (frames, channels), ``time`` and its description.

    Attributes: ``values`` (numpy float32 in the channels' units, int16 codes when ``raw``),
    ``time`` (float64 seconds from the first frame), ``rate`` (Hz the module delivered),
    ``rate_requested``, ``channels``, ``names``, ``units``, ``scales``, ``start_utc``
    (datetime), ``serial``, ``raw``, and how it ended: ``stop_reason`` ("end", "SIGINT",
    "stalled", ...), ``error`` (the message, or None), ``frames_expected``, ``complete``. A
    channel without a usable scale keeps its codes and has the unit "code", as in the CSV that
    ``quillbox record`` writes; with ``raw`` every unit is "code" (value = code / scale).
    """

    def __init__(self, description, codes, time=None):
        self._description = dict(description)
        d = self._description
        self.channels, self.names, self.units = d["channels"], d["names"], d["units"]
        self.scales = [_shortest(s) for s in d["scales"]]
        self.rate, self.rate_requested = _shortest(d["rate"]), d["rate_requested"]
        self.raw, self.serial = bool(d.get("raw")), d.get("serial", "")
        self.stop_reason, self.error = d.get("stop_reason"), d.get("error")
        self.frames_expected, self.complete = d.get("frames_expected"), d.get("complete")
        start = d.get("start_utc") or None
        self.start_utc = (datetime.datetime.fromisoformat(start.replace("Z", "+00:00"))
                          if start else None)
        if codes.dtype == np.int16 and not self.raw:
            scaled = np.array([u != "code" for u in self.units])
            divisors = np.where(scaled, np.array(self.scales, np.float64), 1.0)
            self.values = (codes / divisors).astype(np.float32)
        else:
            self.values = codes
        self.time = (np.arange(len(codes), dtype=np.float64) / d["rate"] if time is None
                     else time)

    def __len__(self):
        return len(self.values)

    def __repr__(self):
        return (f"<quillbox.Recording {len(self)} frames of {len(self.channels)} channels "
                f"at {self.rate:g} Hz>")

    def save(self, path, force=False):
        """Write the recording as ``quillbox record`` does: ``path`` (CSV) and ``path.json``.

        An existing file is refused unless ``force``. Values are written from the codes they
        came from, so a saved recording reads back exactly.
        """
        d = dict(self._description, frames=len(self), complete=True)
        if d.get("stop_reason") in (None, "recording"):
            d["stop_reason"] = "end"
        if self.raw:
            codes = np.asarray(self.values, np.int16)
        else:
            scaled = np.array([u != "code" for u in self.units])
            divisors = np.where(scaled, np.array(self.scales, np.float64), 1.0)
            codes = np.rint(np.asarray(self.values, np.float64) * divisors).astype(np.int16)
        _core.save(os.fspath(path), json.dumps(d), codes, bool(force))

    def to_pandas(self):
        """A pandas DataFrame: index ``time_s``, one column "name (unit)" per channel."""
        try:
            import pandas
        except ImportError:
            raise ImportError("Recording.to_pandas needs pandas (Debian: python3-pandas)") from None
        columns = [f"{n} ({u})" for n, u in zip(self.names, self.units)]
        return pandas.DataFrame(self.values, columns=columns,
                                index=pandas.Index(self.time, name="time_s"))


def load(path, channels=None):
    """Read a recording that ``quillbox record`` or :meth:`Recording.save` wrote.

    Returns a :class:`Recording` whose ``values`` are float32 (NaN where a cell is not a
    number). A damaged file gives what is valid in it, as ``quillbox plot`` does: rows without
    one cell per column or without a time are left out, and each repair is said with a
    :class:`RecordingWarning`. Without ``path.json`` the names and units come from the header.
    channels: names or channel numbers to keep (default: all).
    """
    selection = "" if channels is None else ",".join(str(c) for c in channels)
    names, units, time, values, description, notes = _core.load_recording(os.fspath(path),
                                                                          selection)
    for note in notes:
        warnings.warn(note, RecordingWarning, stacklevel=2)
    d = json.loads(description) if description else {}
    if d and len(d.get("names", [])) == len(names) and selection == "":
        columns = d
    else:
        keep = [d["names"].index(n) for n in names] if d and all(
            n in d.get("names", []) for n in names) else None
        columns = dict(d, names=names, units=units)
        columns["channels"] = [d["channels"][k] for k in keep] if keep else list(range(len(names)))
        columns["scales"] = [d["scales"][k] for k in keep] if keep else [1.0] * len(names)
    columns.setdefault("rate", float(1 / np.median(np.diff(time))) if len(time) > 1 else 1.0)
    columns.setdefault("rate_requested", columns["rate"])
    columns["raw"] = False
    recording = Recording(columns, values, time)
    recording.raw = bool(d.get("raw"))
    return recording


class Stream(_Closing):
    """A running recording given block by block (made by :meth:`Module.stream`).

    Iterating gives numpy arrays (frames, channels) as the module delivers them. Attributes as
    :class:`Recording` (``rate``, ``channels``, ``names``, ``units``, ...), ``frames`` (received
    so far) and ``ring`` (the driver's ring size in frames); once closed, ``stop_reason`` and
    ``error`` say how it ended. Use it in a ``for`` loop, as a context manager, or call
    ``close()``.
    """

    def __init__(self, module, description):
        # The module stays open while its stream is in use.
        self._module, self._driver = module, module._driver
        self._recording = Recording(description, np.empty((0, len(description["channels"])),
                                                          np.int16))
        for name in ("rate", "rate_requested", "channels", "names", "units", "scales",
                     "start_utc", "serial", "raw"):
            setattr(self, name, getattr(self._recording, name))
        self.stop_reason, self.error = None, None
        self.ring = self._driver.ring_frames()
        self.frames = 0
        self.closed = False
        # At most a ring of frames waits in the driver.
        self._buffer = np.empty((max(self.ring, 1), len(self.channels)), np.int16)

    def __iter__(self):
        return self

    def __next__(self):
        if self.closed:
            raise StopIteration
        # A Ctrl-C that arrives while a block is handed over (its KeyboardInterrupt is raised
        # just after the wait returned) stops the recording as one during the wait does.
        try:
            got = self._driver.take(self._buffer, 0, True)
            if got > 0:
                self.frames += got
                return Recording(self._recording._description, self._buffer[:got].copy()).values
        except BaseException:
            self.close("SIGINT")
            raise
        self.close()
        if self.error is not None:
            raise Error(self.error)
        raise StopIteration

    def close(self, reason="end"):
        """Stop the recording (nothing happens if it was stopped already)."""
        if not self.closed:
            self.closed = True
            if not self._driver.closed:
                description = self._module._end(reason)
                self.stop_reason, self.error = description["stop_reason"], description["error"]


def _shortest(scale):
    # The driver's scales are single precision: 1638.4, not 1638.4000244140625.
    return float(str(np.float32(scale)))


def _scan_list(channels):
    # Checked here only as far as Python types go (and the length, before a huge iterable is
    # walked); the recording engine checks the channels themselves.
    if isinstance(channels, (str, bytes)):
        raise TypeError("channels: a list of channel numbers, not a string")
    if hasattr(channels, "__index__"):
        channels = [channels]
    if hasattr(channels, "__len__") and len(channels) > 32767:
        raise ValueError(f"channels: {len(channels)} entries; at most 32767")
    try:
        items = [operator.index(c) for c in itertools.islice(channels, 32768)]
    except TypeError:
        raise TypeError(f"channels: channel numbers must be integers: {channels!r}") from None
    if not items:
        raise ValueError("channels: the scan list is empty")
    if len(items) > 32767:
        raise ValueError("channels: more than 32767 entries; at most 32767")
    for c in items:
        if not 0 <= c <= 31:
            raise ValueError(f"channels: {c} is not a channel 0..31")
    return items


def _number(value, what):
    if isinstance(value, bool) or not isinstance(value, (int, float, np.integer, np.floating)):
        raise TypeError(f"{what}: a number, not {value!r}")
    return float(value)


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


def _warn(messages):
    for message in messages:
        warnings.warn(message, RateWarning if message.startswith("rate:") else RecordingWarning,
                      stacklevel=4)


@atexit.register
def _close_all():
    # The driver's recording thread must be gone before the interpreter unloads anything.
    for module in list(_open_modules):
        module.close()
