% SPDX-License-Identifier: Apache-2.0
% GNU Octave loads the built sphgeo.mex (SPHGEO_DIR, with sphgeo.m): the vectorised reference
% sphgeo_vec (SPHGEO_REF_DIR) bit for bit, and the help text. Shapes, refusals and their texts
% are the host test's, whose second build offers only mxCreateDoubleMatrix, as Octave does.
addpath (getenv ('SPHGEO_DIR')); addpath (getenv ('SPHGEO_REF_DIR'));
assert (strcmp (which ('sphgeo'), fullfile (getenv ('SPHGEO_DIR'), 'sphgeo.mex')));
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
