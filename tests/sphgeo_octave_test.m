% GNU Octave loads the built sphgeo.mex (SPHGEO_DIR, with sphgeo.m): refusals as Octave shows
% them, the vectorised reference sphgeo_vec (SPHGEO_REF_DIR) bit for bit, and the help text.
addpath (getenv ('SPHGEO_DIR')); addpath (getenv ('SPHGEO_REF_DIR'));
assert (strcmp (which ('sphgeo'), fullfile (getenv ('SPHGEO_DIR'), 'sphgeo.mex')));
% Octave's "sphgeo: " once, then the plug-in's text (the usage text's 87 characters whole), with
% no identifier; values, shapes and every refusal are the host test's.
usage = ['sphgeo: Usage: [delta, dist, azim, bazim] = sphgeo(slat, slon, elat, elon)', blanks(21)];
r = cell (1, 4); err = struct ('message', '', 'identifier', 'none');
try, [r{:}] = sphgeo (0, 10, 0); catch err, end
assert (strcmp (err.message, usage) && strcmp (lasterr (), usage) && isempty (err.identifier), ...
        '[%s]', err.message);
[d, k, a, b] = sphgeo ([0 0 45; 10 45 45], [10 -10 45; 0 45 45], 0, 0); % 3 stations of a 2x3
assert (isreal (d) && isequal (size (b), [2 3]) && all ([d(4:6) k(4:6) a(4:6) b(4:6)] == 0));
rand ('seed', 42);
[slat, slon] = deal (180 * rand (20000, 1) - 90, 360 * rand (20000, 1) - 180);
for ev = [0 0; 35 140; -62.5 -71.25; 90 0]'
  [r1, r2] = deal (cell (1, 4));
  [r1{:}] = sphgeo (slat, slon, ev(1), ev(2));
  [r2{:}] = sphgeo_vec (slat, slon, ev(1), ev(2));
  [x, y] = deal ([r1{:}](:), [r2{:}](:));
  assert (isequal (isnan (x), isnan (y)) && isequal (typecast (x(! isnan (x)), 'uint64'), ...
                                                     typecast (y(! isnan (y)), 'uint64')));
end
assert (! isempty (strfind (help ('sphgeo'), '= sphgeo(slat, slon, elat, elon)')));
printf ('sphgeo_octave: all checks passed\n');
