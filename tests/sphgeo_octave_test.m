% Loads the built plug-in sphgeo.mex in GNU Octave and checks its values, shapes, errors and
% help text. Run by sphgeo_octave_test.sh with SPHGEO_DIR (sphgeo.mex and sphgeo.m) and
% SPHGEO_REF_DIR (the vectorised reference sphgeo_vec.m).
1;
function msg = error_of (nout, varargin)
  msg = '';
  try
    r = cell (1, nout);
    [r{:}] = sphgeo (varargin{:});
  catch err
    msg = err.message;
  end
end
function check_usage (msg, what)
  % Octave puts the function's name before the text; the 87-character text must be whole.
  expected = ['Usage: [delta, dist, azim, bazim] = sphgeo(slat, slon, elat, elon)', blanks(21)];
  if (numel (msg) < 87 || ! strcmp (msg(end-86:end), expected))
    error ('%s: [%s] does not end in the usage text', what, msg);
  end
end
mexdir = getenv ('SPHGEO_DIR');
addpath (mexdir);
addpath (getenv ('SPHGEO_REF_DIR'));
assert (strcmp (which ('sphgeo'), fullfile (mexdir, 'sphgeo.mex'))); % the plug-in, not the help file
% Documented cases (station, event, delta, dist, azim, bazim) to the digits given, as a row,
% a column and the first three of a 2x3 matrix whose other elements stay 0.
c = [0 10 0 0 9.999998556 1111.949106 90 270; 10 0 0 0 9.967142027 1108.295627 0.0000043 179.9999957;
     0 -10 0 0 9.999998566 NaN 270 90]; % NaN: no figure stated
tol = [5e-10 5e-7 5e-8 5e-8];
for sz = {[1 3], [3 1], [2 3]}
  lat = [c(:, 1)', 45 45 45];
  lon = [c(:, 2)', 45 45 45];
  n = prod (sz{1});
  [d, k, a, b] = sphgeo (reshape (lat(1:n), sz{1}), reshape (lon(1:n), sz{1}), 0, 0);
  r = {d, k, a, b};
  for j = 1:4
    assert (size (r{j}), sz{1});
    assert (isnan (c(:, 4 + j)) | abs (r{j}(1:3)(:) - c(:, 4 + j)) <= tol(j));
    assert (all (r{j}(4:end) == 0));
  end
end
[d, k, a, b] = sphgeo (10, 20, 10, 20); % coincident: IEEE results kept
assert (d == 0 && k == 0 && isnan (a) && isnan (b));
[d, k, a, b] = sphgeo ([], [], 0, 0);
assert (isempty (d) && isempty (b));
for t = {{4, 0, 10, 0}, {1, 0, 10, 0, 0}, {3, 0, 10, 0, 0}, {4, 1:5, 1:4, 0, 0}, {4, 1, 2, [], 0}, ...
         {4, int32([1 2]), [1 2], 0, 0}, {4, [1 2], single([1 2]), 0, 0}, {4, 1, 2, true, 0}, ...
         {4, 1, 2, 0, 'a'}, {4, {1}, 2, 0, 0}, {4, [1 2] + 1i, [1 2], 0, 0}, {4, sparse([0 0 1]), 1:3, 0, 0}}
  check_usage (error_of (t{1}{:}), sprintf ('%d results of %d arguments', t{1}{1}, numel (t{1}) - 1));
end
rand ('seed', 42); % bit for bit the same as the vectorised formula
slat = 180 * rand (20000, 1) - 90;
slon = 360 * rand (20000, 1) - 180;
for ev = [0 0; 35 140; -62.5 -71.25; 90 0]'
  r1 = cell (1, 4);
  r2 = cell (1, 4);
  [r1{:}] = sphgeo (slat, slon, ev(1), ev(2));
  [r2{:}] = sphgeo_vec (slat, slon, ev(1), ev(2));
  assert (isequaln (r1, r2) && isequal (typecast ([r1{:}](! isnan ([r1{:}])), 'uint64'), ...
                                        typecast ([r2{:}](! isnan ([r2{:}])), 'uint64')));
end
text = help ('sphgeo'); % read from the help file beside the plug-in
for phrase = {'= sphgeo(slat, slon, elat, elon)', 'kilometres', 'clockwise from north', 'Coincident or antipodal'}
  assert (! isempty (strfind (text, phrase{1})), 'help text lacks "%s"', phrase{1});
end
printf ('sphgeo_octave: all checks passed\n');
