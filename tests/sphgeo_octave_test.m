% GNU Octave loads the built sphgeo.mex (SPHGEO_DIR, with sphgeo.m): values, shapes, refusals, the
% vectorised reference sphgeo_vec (SPHGEO_REF_DIR) bit for bit, and the help text.
1;
function msg = refusal (nout, varargin)
  msg = '';
  r = cell (1, nout);
  try, [r{:}] = sphgeo (varargin{:}); catch err, msg = err.message; end
  assert (strcmp (lasterr (), msg) && isempty (err.identifier), '[%s] [%s]', lasterr (), msg);
end
addpath (getenv ('SPHGEO_DIR'));
addpath (getenv ('SPHGEO_REF_DIR'));
assert (strcmp (which ('sphgeo'), fullfile (getenv ('SPHGEO_DIR'), 'sphgeo.mex')));
% Stations (0, 10), (10, 0), (0, -10) against (0, 0): a row, a column, and the first three of a
% 2x3 matrix whose other elements stay 0. Figures to the digits documented (NaN: none).
want = [9.999998556 1111.949106 90 270; 9.967142027 1108.295627 0.0000043 179.9999957;
        9.999998566 NaN 270 90];
for sz = {[1 3], [3 1], [2 3]}
  n = prod (sz{1});
  r = cell (1, 4);
  [r{:}] = sphgeo (reshape ([0 10 0 45 45 45](1:n), sz{1}), reshape ([10 0 -10 45 45 45](1:n), sz{1}), 0, 0);
  for j = 1:4
    assert (size (r{j}), sz{1});
    assert (isnan (want(:, j)) | abs (r{j}(1:3)(:) - want(:, j)) <= [5e-10 5e-7 5e-8 5e-8](j));
    assert (all (r{j}(4:end) == 0));
  end
end
[d, k, a, b] = sphgeo (10, 20, 10, 20); % coincident: IEEE results kept
assert (d == 0 && k == 0 && isnan (a) && isnan (b));
[d, k, a, b] = sphgeo ([], [], 0, 0);
assert (isempty (d) && isempty (b));
% The texts as Octave shows them: its "sphgeo: " once, then the plug-in's text (the usage text's
% 87 characters whole).
usage = ['sphgeo: Usage: [delta, dist, azim, bazim] = sphgeo(slat, slon, elat, elon)', blanks(21)];
vec = 'must be a real double vector';
for c = {{usage, 4, 0, 10, 0}, {usage, 1, 0, 10, 0, 0}, {usage, 3, 0, 10, 0, 0}, ...
         {'sphgeo: slon has fewer elements than slat', 4, 1:5, 1:4, 0, 0}, {'sphgeo: elat must not be empty', 4, 1, 2, [], 0}, ...
         {'sphgeo: elon must not be empty', 4, 1, 2, 0, zeros(0, 1)}, {['sphgeo: slat ' vec], 4, int32([1 2]), [1 2], 0, 0}, ...
         {['sphgeo: slon ' vec], 4, [1 2], single([1 2]), 0, 0}, {'sphgeo: elat must be a real double scalar', 4, 1, 2, true, 0}, ...
         {'sphgeo: elon must be a real double scalar', 4, 1, 2, 0, 'a'}, {['sphgeo: slat ' vec], 4, {1}, 2, 0, 0}, ...
         {['sphgeo: slat ' vec], 4, [1 2] + 1i, [1 2], 0, 0}, {['sphgeo: slat ' vec], 4, sparse([0 0 1]), 1:3, 0, 0}, ...
         {'sphgeo: slat is empty but not 0-by-0 (no stations is 0-by-0)', 4, zeros(1, 0), zeros(1, 0), 0, 0}}
  m = refusal (c{1}{2:end});
  assert (strcmp (m, c{1}{1}), '[%s]', m);
end
rand ('seed', 42);
[slat, slon] = deal (180 * rand (20000, 1) - 90, 360 * rand (20000, 1) - 180);
for ev = [0 0; 35 140; -62.5 -71.25; 90 0]'
  [r1, r2] = deal (cell (1, 4));
  [r1{:}] = sphgeo (slat, slon, ev(1), ev(2));
  [r2{:}] = sphgeo_vec (slat, slon, ev(1), ev(2));
  [x, y] = deal ([r1{:}](:), [r2{:}](:));
  assert (isequal (isnan (x), isnan (y)) && isequal (typecast (x(! isnan (x)), 'uint64'), typecast (y(! isnan (y)), 'uint64')));
end
text = help ('sphgeo');
for phrase = {'= sphgeo(slat, slon, elat, elon)', 'kilometres', 'clockwise from north', 'Coincident or antipodal'}
  assert (! isempty (strfind (text, phrase{1})), 'help text lacks "%s"', phrase{1});
end
printf ('sphgeo_octave: all checks passed\n');
