% SPDX-License-Identifier: Apache-2.0
% Nanoseconds per station of the plug-in sphgeo.mex against sphgeo_vec.m, the same formula
% as vectorised Octave code, for 1,000,000 stations in one Octave session; checks that
% both give the same bits. Run with SPHGEO_DIR (folder of sphgeo.mex) and SPHGEO_REF_DIR
% (folder of sphgeo_vec.m) set, for example through the build target sphgeo_bench_octave.
1;

function same = bits_equal (x, y)
  same = isequal (size (x), size (y)) && isequal (isnan (x), isnan (y)) ...
         && isequal (typecast (x(! isnan (x)), 'uint64'), typecast (y(! isnan (y)), 'uint64'));
end

addpath (getenv ('SPHGEO_DIR'));
addpath (getenv ('SPHGEO_REF_DIR'));
n = 1e6;
reps = 7;
rand ('state', 20240601);
slat = 180 * rand (n, 1) - 90;
slon = 360 * rand (n, 1) - 180;
elat = 35;
elon = 140;

t_mex = zeros (reps, 1);
t_vec = zeros (reps, 1);
[d1, k1, a1, b1] = sphgeo (slat, slon, elat, elon);        % warm-up, and the results
[d2, k2, a2, b2] = sphgeo_vec (slat, slon, elat, elon);    % compared below
for r = 1:reps
  % Alternate the two so that a slow spell of the machine hits both alike.
  t0 = tic; [d1, k1, a1, b1] = sphgeo (slat, slon, elat, elon); t_mex(r) = toc (t0);
  t0 = tic; [d2, k2, a2, b2] = sphgeo_vec (slat, slon, elat, elon); t_vec(r) = toc (t0);
end
same = bits_equal (d1, d2) && bits_equal (k1, k2) && bits_equal (a1, a2) && bits_equal (b1, b2);

printf ('sphgeo in Octave %s: %d stations, %d repetitions, %d cores\n', version (), n, reps, ...
        nproc ());
printf ('%-28s %12s %12s\n', 'variant', 'min ns/stn', 'median');
printf ('%-28s %12.2f %12.2f\n', 'sphgeo.mex (plug-in)', 1e9 * min (t_mex) / n, ...
        1e9 * median (t_mex) / n);
printf ('%-28s %12.2f %12.2f\n', 'sphgeo_vec.m (vectorised)', 1e9 * min (t_vec) / n, ...
        1e9 * median (t_vec) / n);
printf ('speed-up of the plug-in (median): %.2fx\n', median (t_vec) / median (t_mex));
printf ('results bit-identical: %s\n', merge (same, 'yes', 'NO'));
if (! same)
  exit (1);
end
