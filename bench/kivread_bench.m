% SPDX-License-Identifier: Apache-2.0
% Milliseconds to read a KIV file of 1,000,000 samples with kivread against a hand-written fread
% of the same samples, in one Octave session; checks that all give the same values. Run with
% KIVF_OCTAVE_DIR (the folder of kivread.m) set, for example through the build target
% kivread_bench_octave.
1;

function y = plain (file, n)           % the baseline: what one would write by hand
  fid = fopen (file); fseek (fid, 632);
  y = fread (fid, n, 'float32=>double');
  fclose (fid);
end

function y = with_header (file)
  [y, hdr] = kivread (file);
end

addpath (getenv ('KIVF_OCTAVE_DIR'));
n = 1e6;
reps = 31;
file = [tempname(), '.kiv'];
rand ('state', 20240601);
kivwrite (file, 2e4 * rand (n, 1) - 1e4, struct ('DELTA', 0.01, 'B', 0, 'KSTNM', 'BENCH'));
names = {'fread of the samples (baseline)', 'y = kivread (file)', '[y, hdr] = kivread (file)'};
variants = {@(f) plain (f, n), @(f) kivread (f), @with_header};

t = zeros (reps, 3);
out = cell (1, 3);                     % each variant's result replaces its own last one
for r = 0:reps
  % Each variant takes each place in the order in turn, so that a slow spell of the machine
  % hits all alike; round 0 warms up.
  for v = circshift (1:3, r)
    t0 = tic; out{v} = variants{v} (file); dt = toc (t0);
    if (r > 0)
      t(r, v) = dt;
    end
  end
end
unlink (file);
same = isequal (out{:}) && numel (out{1}) == n;

printf ('kivread in Octave %s: %d samples, %d repetitions, %d cores\n', version (), n, reps, ...
        nproc ());
printf ('%-34s %8s %8s   %s\n', 'variant', 'min ms', 'median', 'to baseline (min, median)');
for v = 1:3
  best = min (t(:, v));
  mid = median (t(:, v));
  printf ('%-34s %8.2f %8.2f   %.2fx %.2fx\n', names{v}, 1e3 * best, 1e3 * mid, ...
          best / min (t(:, 1)), mid / median (t(:, 1)));
end
printf ('same samples: %s\n', merge (same, 'yes', 'NO'));
if (! same)
  exit (1);
end
