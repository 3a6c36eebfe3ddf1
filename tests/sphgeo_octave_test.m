% GNU Octave loads the built plug-in sphgeo.mex: values, shapes, the usage error, the
% vectorised reference sphgeo_vec bit for bit, and the help text beside the plug-in.
% SPHGEO_DIR holds sphgeo.mex and sphgeo.m, SPHGEO_REF_DIR sphgeo_vec.m.
1;
function check_says (varargin) % a refusal of well-counted arguments says what is wrong
  try
    [a, b, c, d] = sphgeo (varargin{:});
    error ('no refusal');
  catch err
    assert (! isempty (strfind (err.message, 'sphgeo: ')), '[%s]', err.message);
  end
end
function check_usage (nout, varargin)
  % Octave puts the function's name before the text; the 87-character text must be whole.
  msg = '';
  try
    r = cell (1, nout);
    [r{:}] = sphgeo (varargin{:});
  catch err
    msg = err.message;
  end
  usage = ['Usage: [delta, dist, azim, bazim] = sphgeo(slat, slon, elat, elon)', blanks(21)];
  assert (numel (msg) >= 87 && strcmp (msg(end-86:end), usage), '[%s] for %d arguments', msg, nargin - 1);
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
check_usage (4, 0, 10, 0); check_usage (1, 0, 10, 0, 0); check_usage (3, 0, 10, 0, 0);
check_says (1:5, 1:4, 0, 0); check_says (1, 2, [], 0); check_says (int32 ([1 2]), [1 2], 0, 0);
check_says ([1 2], single ([1 2]), 0, 0); check_says (1, 2, true, 0); check_says (1, 2, 0, 'a');
check_says ({1}, 2, 0, 0); check_says ([1 2] + 1i, [1 2], 0, 0); check_says (sparse ([0 0 1]), 1:3, 0, 0);
rand ('seed', 42);
slat = 180 * rand (20000, 1) - 90;
slon = 360 * rand (20000, 1) - 180;
for ev = [0 0; 35 140; -62.5 -71.25; 90 0]'
  r1 = cell (1, 4);
  r2 = cell (1, 4);
  [r1{:}] = sphgeo (slat, slon, ev(1), ev(2));
  [r2{:}] = sphgeo_vec (slat, slon, ev(1), ev(2));
  x = [r1{:}](:);
  y = [r2{:}](:);
  assert (isequal (isnan (x), isnan (y)) && isequal (typecast (x(! isnan (x)), 'uint64'), typecast (y(! isnan (y)), 'uint64')));
end
text = help ('sphgeo');
for phrase = {'= sphgeo(slat, slon, elat, elon)', 'kilometres', 'clockwise from north', 'Coincident or antipodal'}
  assert (! isempty (strfind (text, phrase{1})), 'help text lacks "%s"', phrase{1});
end
printf ('sphgeo_octave: all checks passed\n');
