% Loads the built plug-in sphgeo.mex in GNU Octave and checks its values, shapes, errors
% and help text. Run by sphgeo_octave_test.sh with SPHGEO_DIR (the folder of sphgeo.mex and
% sphgeo.m) and SPHGEO_REF_DIR (the folder of the vectorised reference sphgeo_vec.m).
1;

function check_digits (got, stated, what)
  % A stated figure holds within half a unit of its last digit.
  dot = find (stated == '.');
  decimals = numel (stated) - dot;
  tol = 0.5 * 10 ^ (-decimals);
  if (! (abs (got - str2double (stated)) <= tol))
    error ('%s: got %.12g, stated %s', what, got, stated);
  end
end

function check_case (c, delta, dist, azim, bazim)
  names = {'delta', 'dist', 'azim', 'bazim'};
  got = [delta, dist, azim, bazim];
  for k = 1:4
    if (! isempty (c{4 + k}))
      check_digits (got(k), c{4 + k}, sprintf ('station (%g, %g) event (%g, %g) %s', ...
                                                c{1:4}, names{k}));
    end
  end
end

function msg = error_of (f)
  msg = '';
  try
    f ();
  catch err
    msg = err.message;
  end
end

function check_usage (msg, what)
  text = '[delta, dist, azim, bazim] = sphgeo(slat, slon, elat, elon)';
  expected = ['Usage: ', text, repmat(' ', 1, 80 - numel (text))];
  assert (numel (expected), 87);
  % Octave puts the function's name before the text it was given; the text must be whole.
  if (numel (msg) < 87 || ! strcmp (msg(end-86:end), expected))
    error ('%s: error message [%s] does not end in the 87-character usage text', what, msg);
  end
end

function one_result (varargin)
  x = sphgeo (varargin{:});
end

function three_results (varargin)
  [x, y, z] = sphgeo (varargin{:});
end

function four_results (varargin)
  [w, x, y, z] = sphgeo (varargin{:});
end

function same = bits_equal (x, y)
  % Same NaN positions, and the same 64 bits everywhere else (so -0 differs from 0).
  same = isequal (size (x), size (y)) && isequal (isnan (x), isnan (y)) ...
         && isequal (typecast (x(! isnan (x)), 'uint64'), typecast (y(! isnan (y)), 'uint64'));
end

mexdir = getenv ('SPHGEO_DIR');
addpath (mexdir);
addpath (getenv ('SPHGEO_REF_DIR'));

% The plug-in, not the help file, is what Octave runs.
assert (exist ('sphgeo'), 3);
assert (strcmp (which ('sphgeo'), fullfile (mexdir, 'sphgeo.mex')));

% The documented cases, to the digits given ('' where no figure is stated).
stated = {
  0,   10,   0,  0,   '9.999998556', '1111.949106', '90.0000000',  '270.0000000'
  0,   0,    0,  10,  '9.999998556', '',            '270.0000000', '90.0000000'
  10,  0,    0,  0,   '9.967142027', '1108.295627', '0.0000043',   '179.9999957'
  30,  -120, 35, 140, '80.67731564', '8970.908194', '59.88366599', '305.0743652'
  90,  0,    0,  0,   '89.99998696', '10007.54195', '',            ''
  0,   -10,  0,  0,   '9.999998566', '',            '270.0000000', '90.0000000'
  0,   350,  0,  0,   '10.00005053', '',            '',            ''
};
for i = 1:rows (stated)
  c = stated(i, :);
  [delta, dist, azim, bazim] = sphgeo (c{1:4});
  assert (size (delta), [1 1]);
  check_case (c, delta, dist, azim, bazim);
end

% Coincident positions keep the IEEE results.
[delta, dist, azim, bazim] = sphgeo (10, 20, 10, 20);
assert (delta == 0 && dist == 0 && isnan (azim) && isnan (bazim));

% Shapes: five stations against the event (0, 0) as a row, a column, and a 2x3 matrix
% whose first three elements (column order) are computed and the rest stay 0.
five = stated([1 3 5 6 7], :);
lat = [five{:, 1}];
lon = [five{:, 2}];
for shape = {[1 5], [5 1]}
  sz = shape{1};
  [delta, dist, azim, bazim] = sphgeo (reshape (lat, sz), reshape (lon, sz), 0, 0);
  for r = {delta, dist, azim, bazim}
    assert (size (r{1}), sz);
  end
  for j = 1:5
    check_case (five(j, :), delta(j), dist(j), azim(j), bazim(j));
  end
end
[delta, dist, azim, bazim] = sphgeo (reshape ([lat(1:3), 45, 45, 45], 2, 3), ...
                                     reshape ([lon(1:3), 45, 45, 45], 2, 3), 0, 0);
for r = {delta, dist, azim, bazim}
  assert (size (r{1}), [2 3]);
  assert (r{1}(4:6), [0 0 0]);
end
for j = 1:3
  check_case (five(j, :), delta(j), dist(j), azim(j), bazim(j));
end
[delta, dist, azim, bazim] = sphgeo ([], [], 0, 0);
for r = {delta, dist, azim, bazim}
  assert (size (r{1}), [0 0]);
end

% The usage error for wrong numbers of arguments or results.
check_usage (error_of (@() four_results (0, 10, 0)), 'three arguments');
check_usage (error_of (@() one_result (0, 10, 0)), 'three arguments, one result');
check_usage (error_of (@() one_result (0, 10, 0, 0)), 'one result');
check_usage (error_of (@() three_results (0, 10, 0, 0)), 'three results');
check_usage (error_of (@() four_results (0, 10, 0, 0, 1)), 'five arguments');

% Refusals: each says what is wrong.
refused = {
  'slon shorter than the stations', {1:5, 1:4, 0, 0}
  'empty elat',                     {1, 2, [], 0}
  'empty elon',                     {1, 2, 0, zeros(1, 0)}
  'slat 0x3',                       {zeros(0, 3), zeros(0, 3), 0, 0}
  'slat 3x0',                       {zeros(3, 0), zeros(3, 0), 0, 0}
  'int32 slat',                     {int32([1 2]), [1 2], 0, 0}
  'single slon',                    {[1 2], single([1 2]), 0, 0}
  'logical elat',                   {1, 2, true, 0}
  'char elon',                      {1, 2, 0, 'a'}
  'cell slat',                      {{1}, 2, 0, 0}
  'complex slat',                   {[1 2] + 1i, [1 2], 0, 0}
  'sparse slat',                    {sparse([0 0 0 0 1]), 1:5, 0, 0}
  'sparse slon',                    {1:5, sparse([1 0 0 0 0]), 0, 0}
};
for i = 1:rows (refused)
  a = refused{i, 2};
  msg = error_of (@() four_results (a{:}));
  if (isempty (strfind (msg, 'sphgeo: ')))
    error ('%s: error message [%s] does not say what is wrong', refused{i, 1}, msg);
  end
end

% Bit for bit the same as the vectorised formula, on random stations.
rand ('seed', 42);
n = 20000;
slat = 180 * rand (n, 1) - 90;
slon = 360 * rand (n, 1) - 180;
for ev = [0 0; 35 140; -62.5 -71.25; 90 0]'
  [d1, k1, a1, b1] = sphgeo (slat, slon, ev(1), ev(2));
  [d2, k2, a2, b2] = sphgeo_vec (slat, slon, ev(1), ev(2));
  assert (bits_equal (d1, d2) && bits_equal (k1, k2) && bits_equal (a1, a2) && bits_equal (b1, b2));
end

% help sphgeo reads the help file beside the plug-in.
text = help ('sphgeo');
for phrase = {'[delta, dist, azim, bazim] = sphgeo(slat, slon, elat, elon)', 'degrees', ...
              'kilometres', 'clockwise from north', 'Coincident or antipodal'}
  assert (! isempty (strfind (text, phrase{1})), 'help text lacks "%s"', phrase{1});
end

printf ('sphgeo_octave: all checks passed\n');
