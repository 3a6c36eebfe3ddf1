# SPDX-License-Identifier: Apache-2.0
"""Makes the user guide's picture of a filtered three-component record:

    PYTHONPATH=build/default/python /usr/bin/python3 docs/quicklook.py docs/quicklook.png

A synthetic local event at one station, 100 samples/s for 10 minutes a component: each
component sits on its own offset under an ocean microseism (0.2 Hz) far larger than the event,
with the origin (O), the P pick (A, labelled P) and the S pick (T0, labelled S) in the headers.
Unfiltered, the offsets and the microseism are all one sees; the plot of the three files with
--filter bandpass:1:10 (from 30 s before the origin to 150 s after the P pick) shows the
arrivals. The files go into a temporary directory; the figure's file is the one argument.
"""
import os
import sys
import tempfile

import numpy as np

import kivf
from kivf import __main__ as cli

RATE = 100.0
ORIGIN, P, S = 120.0, 131.5, 140.2  # seconds from the first sample


def component(rng, t, offset, p_amp, s_amp):
    micro = 4000 * np.sin(2 * np.pi * 0.2 * t + rng.uniform(0, 6)) * (1 + 0.3 * np.sin(t / 40))
    y = offset + micro + 30 * rng.standard_normal(t.size)
    for at, amp, hz, decay in ((P, p_amp, 6.0, 3.0), (S, s_amp, 3.0, 8.0)):
        after = t >= at
        dt = t[after] - at
        y[after] += amp * np.exp(-dt / decay) * np.sin(2 * np.pi * hz * dt) * (1 - np.exp(-dt * 8))
    return y.astype(np.float32)


def main(out):
    rng = np.random.default_rng(2015)
    t = np.arange(int(600 * RATE)) / RATE
    fields = dict(delta=1 / RATE, nzyear=2015, nzjday=69, nzhour=14, nzmin=20, nzsec=0,
                  nzmsec=0, b=0.0, knetwk="XK", kstnm="MLR", o=ORIGIN, a=P, ka="P", t0=S,
                  kt0="S", stla=45.49, stlo=25.94, evla=45.1, evlo=26.4, idep="IVEL")
    with tempfile.TemporaryDirectory() as tmp:
        files = []
        for cmp, offset, p_amp, s_amp in (("HHE", -5e5, 300, 1500), ("HHN", 2e4, 250, 1800),
                                          ("HHZ", 1030, 900, 600)):
            path = os.path.join(tmp, f"XK.MLR..{cmp}.kiv")
            kivf.write(path, component(rng, t, offset, p_amp, s_amp), kcmpnm=cmp, **fields)
            files.append(path)
        return cli.main(["plot", *files, "--filter", "bandpass:1:10", "--start", "O-30",
                         "--end", "A+150", "-o", out])


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "quicklook.png"))
