# SPDX-License-Identifier: Apache-2.0
"""Times as the package reads them: datetime64 of any unit, datetime or ISO text, as exact
microseconds since 1970 (Python ints, never wrapping), and as datetime64[us] clamped to its
range."""
import re

import numpy as np

from . import _kivf

_NAT = np.datetime64("NaT", "us")
_FIRST, _LAST = 1 - 2**63, 2**63 - 1  # datetime64[us]'s range in microseconds; -2**63 is NaT
_DAY = 86400 * 10**6
# Microseconds in each unit of datetime64 from the week down, and the divisors of the finer ones.
_UNIT = dict(W=7 * _DAY, D=_DAY, h=3600 * 10**6, m=60 * 10**6, s=10**6, ms=1000, us=1)
_FINER = dict(ns=10**3, ps=10**6, fs=10**9, **{"as": 10**12})
_MONTHS = (0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334)  # days before each, 365-day year


def _days(year):
    """Days from 1970-01-01 to January 1 of year, proleptic Gregorian as numpy counts them: the
    library's count within 400 years of 1970, whole 400-year cycles of 146,097 days beyond, so
    that any Python int is exact."""
    cycles, year = divmod(year - 1970, 400)
    return cycles * 146097 + _kivf.daysfromepoch(1970 + year)


def _datetime(t):
    """Microseconds since 1970 (a Python int) as datetime64[us]; NaT beyond its range."""
    if t is None or not -2**63 < t < 2**63:  # -2**63 itself is NaT
        return _NAT
    return np.datetime64(t, "us")


def _micro(t):
    """A datetime64 of any unit as microseconds since 1970, a Python int however far out (numpy's
    cast to datetime64[us] wraps round beyond its range); finer units rounded down, as numpy
    casts them."""
    unit, count = np.datetime_data(t.dtype)
    n = int(t.astype(np.int64)) * count
    if unit == "Y":
        return _days(1970 + n) * _DAY
    if unit == "M":
        year, month = divmod(n, 12)
        year += 1970
        leap = _days(year + 1) - _days(year) - 365
        return (_days(year) + _MONTHS[month] + (leap if month > 1 else 0)) * _DAY
    if unit in _FINER:
        return n // _FINER[unit]
    return n * _UNIT[unit]


def _read_text(text):
    """ISO text as microseconds since 1970 (a Python int). numpy reads it to the second: in a
    finer unit its parsing wraps a few hundred years away. A year of more than four digits is
    read as the year at the same place of the calendar's 400-year cycle and the days between
    added, as numpy wraps far-out years too. The digits below the second are taken here,
    rounded down to the microsecond as numpy casts them."""
    shift = 0
    year = re.match(r"\s*([-+]?\d+)", text)
    if year and not -9999 <= int(year[1]) <= 9999:
        y = int(year[1])
        shift = (_days(y) - _days(2000 + y % 400)) * _DAY
        text = text[:year.start(1)] + str(2000 + y % 400) + text[year.end(1):]
    t = np.datetime64(text, "s")
    if np.isnat(t):
        raise ValueError
    below = re.search(r":\d\d\.(\d+)", text)
    return _micro(t) + shift + (int(below[1][:6].ljust(6, "0")) if below else 0)


def _us(value, what):
    """A time given as datetime64 (any unit), datetime or ISO text, as microseconds since 1970:
    a Python int, exact also beyond datetime64[us]'s range; None stays None."""
    if value is None:
        return None
    try:
        if isinstance(value, (str, bytes)):
            return _read_text(value if isinstance(value, str) else value.decode("ascii"))
        t = np.datetime64(value)
        if np.isnat(t) or np.datetime_data(t.dtype)[0] == "generic":
            raise ValueError
        return _micro(t)
    except (ValueError, TypeError, OverflowError):
        raise ValueError(f"{what}: {value!r} is not a time") from None


def _time(value, what):
    """A time given as datetime64, datetime or ISO text, as datetime64[us]; one beyond its range
    as its first or last microsecond, which lie beyond any sample time. None stays None."""
    us = _us(value, what)
    return None if us is None else np.datetime64(min(max(us, _FIRST), _LAST), "us")


def _said(value, what):
    """A time as messages show it: its datetime64[us] text, or as given when beyond that."""
    us = _us(value, what)
    return str(np.datetime64(us, "us")) if _FIRST <= us <= _LAST else str(value)
