# SPDX-License-Identifier: Apache-2.0
"""Header marks: the origin and picks a header holds (O, A, T0-T9, labelled by KA, KT0-KT9),
and bounds written relative to them ("O-30", "A+120")."""
import re

import numpy as np

from ._times import _us
from ._trace import _reference

# A bound or a time relative to a header's origin or pick: O, A or T0-T9, then seconds.
_MARK = re.compile(r"\s*(O|A|T[0-9])\s*(?:([+-])\s*(\d+(?:\.\d*)?|\.\d+))?\s*$", re.IGNORECASE)
_PICKS = ("O", "A", *(f"T{k}" for k in range(10)))


def mark(value):
    """(field, seconds) of a bound written as a header mark and seconds from it ("O-30",
    "A+120", "T1"), or None for any other value."""
    m = _MARK.match(value) if isinstance(value, str) else None
    if m is None:
        return None
    seconds = float(m[3]) if m[3] else 0.0
    return m[1].upper(), -seconds if m[2] == "-" else seconds


def _marked(header, field):
    """The time (us) of a header's mark, or None when it or the reference time is undefined."""
    v, ref = header.get(field), _reference(header)
    return None if v is None or ref is None or not np.isfinite(v) else ref + round(float(v) * 1e6)


def picks(header):
    """(time in us, label) of the header's origin and picks: KA or KTn where they say, else the
    field's name."""
    out = []
    for field in _PICKS:
        at = _marked(header, field)
        if at is not None:
            said = (header.get("K" + field) or "").strip() if field != "O" else ""
            out.append((at, said or field))
    return out


def bound(value, what, header, channel):
    """A bound in us for a run with this header: a time as given, or its mark plus seconds."""
    m = mark(value)
    if m is None:
        return _us(value, what)
    at = _marked(header, m[0])
    if at is None:
        raise ValueError(f"{what} {value}: {channel} has no {m[0]} (or no reference time)")
    return at + round(m[1] * 1e6)
