# SPDX-License-Identifier: Apache-2.0
"""Runs: the pieces of one channel that continue each other's sampling grid, found from their
headers alone (so that the plot and the inventory need not read the samples)."""
import numpy as np

from . import _kivf

_CODES = ("KNETWK", "KSTNM", "KHOLE", "KCMPNM")


def channel(header, start, uneven):
    """What pieces must share to be joined (network, station, location, component, DELTA and
    SCALE), or None for one that joins nothing: uneven, no start, no usable DELTA."""
    d = header.get("DELTA")
    if uneven or start is None or d is None or not d > 0 or not np.isfinite(d):
        return None
    return tuple(header.get(k) for k in (*_CODES, "DELTA", "SCALE"))


def after(delta, start, n):
    """The time (us) of the sample after n samples from start on DELTA's nominal grid, or None
    beyond 2**62 us."""
    step = _kivf.offsets(delta, n, 1)
    return None if step is None else start + int(step[0])


def chain(pieces, start, length, delta):
    """pieces of one channel (DELTA delta) in time order, split into runs: a piece whose start
    (start(piece), us) lies less than half a nominal interval from where the run's grid
    continues (its first start plus its samples' nominal intervals, to the microsecond) joins
    that run; further away it is a gap or an overlap and starts a run of its own. Returns a
    list of (run, next): the run's pieces and the time its grid continues at (None beyond
    2**62 us)."""
    half = _kivf.nominal(delta)[1] * 1e6 / 2  # microseconds
    runs, n = [], 0  # n: the last run's samples
    for p in sorted(pieces, key=start):
        if runs and runs[-1][1] is not None and abs(start(p) - runs[-1][1]) < half:
            runs[-1][0].append(p)
            n += length(p)
        else:
            runs.append(([p], None))
            n = length(p)
        runs[-1] = (runs[-1][0], after(delta, start(runs[-1][0][0]), n))
    return runs


def channels(items, trace, start, length):
    """items joined: for each channel in the order it first appears, (key, runs) with runs as
    chain gives them (length(item) samples from start(item) us); an item that joins nothing
    (by channel() of trace(item)) is a channel of its own, key None, one run of it alone."""
    groups = {}
    for item in items:
        t = trace(item)
        key = channel(t.header, start(item), t.x is not None)
        groups.setdefault(object() if key is None else key, (key, []))[1].append(item)
    return [(key, [(group, None)] if key is None else chain(group, start, length, key[4]))
            for key, group in groups.values()]
