% SPDX-License-Identifier: Apache-2.0
function kivwrite (file, y, hdr, x)
% KIVWRITE  Write samples and a header as a KIV file.
%
%   kivwrite (file, y, hdr)
%   kivwrite (file, y, hdr, x)
%
%   y    the samples, a real numeric vector (NPTS = numel (y))
%   hdr  a struct whose fields are header field names, in any letter case,
%        as kivread returns them:
%          floating and integer fields  real numbers (integers: whole, 32-bit)
%          enumerated fields            the value's name (e.g. 'ITIME', 'IVEL')
%                                       or its number
%          logical fields               true/false (or 1/0)
%          text fields                  char rows of at most 8 characters
%                                       (KEVNM: 16)
%        An empty value ([]) leaves a field undefined (logical fields are
%        never undefined). A field not given takes the value of a fresh
%        header: undefined, except NVHDR 6 (the only version), NINF
%        0, NHST 0, IFTYPE 'ITIME', LEVEN, LOVROK and LCALDA true, LPSPOL
%        and LHDR5 false. A struct read by kivread writes back the same
%        header, but for an E, GCARC, DIST, AZ or BAZ derived when the file
%        had none (below).
%   x    unevenly spaced data: the independent values, as many as y; they
%        are stored after the samples and LEVEN is false
%
%   Derived fields:
%     NPTS   numel (y); an NPTS given must be the same
%     LEVEN  false with x, true without (a contrary LEVEN given is refused)
%     B, E   with x, the first and last x unless given; evenly spaced, E is
%            B + (NPTS-1)*DELTA when B and DELTA are given and E is not
%            (give E = [] to leave it undefined; no E when NPTS is 0)
%     GCARC, DIST, AZ, BAZ
%            when LCALDA is true and STLA, STLO, EVLA and EVLO are defined
%            and finite, those not given are computed by the sphgeo plug-in
%            (which must then be on the path) from the positions as stored,
%            i.e. double (single (v)), and stored as 32-bit floats; a station
%            at the event's position has no azimuths (they stay undefined)
%            (give GCARC = [] etc. to leave one undefined)
%   Nothing else is computed (DEPMIN, DEPMAX, DEPMEN stay as given).
%
%   Samples, x and floating fields are stored as 32-bit floats (rounded to
%   nearest; a finite value beyond their range, or a derived E that is not a
%   finite 32-bit float, is refused; NaNs and infinities are kept), integers
%   and enumerated values as 32-bit integers. The file is
%   little-endian whatever the machine (the library, kivhdr and kivread read
%   either order). It is written under a temporary name in the same
%   directory and renamed over file only when complete, so a failure leaves
%   an existing file as it was.
%
%   Refusals are errors with an identifier; nothing is written:
%     kivwrite:usage   bad arguments
%     kivwrite:field   a name that is not a header field, or one given twice
%     kivwrite:type    a value of the wrong kind
%     kivwrite:value   a value out of range or inconsistent with the data
%     kivwrite:create  the file cannot be created or put in place
%     kivwrite:write   a write failed
%     kivwrite:sphgeo  GCARC, DIST, AZ or BAZ are to be computed but the
%                      sphgeo plug-in cannot be called
%
%   Example:
%     hdr = struct ('DELTA', 0.01, 'B', 0, 'KSTNM', 'ANMO', 'KCMPNM', 'BHZ', ...
%                   'IDEP', 'IVEL', 'NZYEAR', 2015, 'NZJDAY', 69);
%     kivwrite ('anmo.kiv', sin (0:0.01:10), hdr);
%
%   See also: kivread.

  if (nargin < 3 || ! ischar (file) || rows (file) != 1 || ! isstruct (hdr) || ! isscalar (hdr))
    error ('kivwrite:usage', 'Usage: kivwrite (file, y, hdr) or kivwrite (file, y, hdr, x)');
  end
  nonul (file, 'kivwrite:create', 'kivwrite: cannot create %s (the name holds a NUL character)');
  if (! samples (y))
    error ('kivwrite:type', 'kivwrite: y must be a real numeric vector');
  end
  uneven = nargin > 3;
  if (! uneven)
    x = [];
  end
  if (uneven && ! (samples (x) && numel (x) == numel (y)))
    error ('kivwrite:value', 'kivwrite: x must be a real numeric vector as long as y');
  end
  beyond ('y', y);
  beyond ('x', x);
  c = kivcat ();
  npts = numel (y);
  if (npts > 2147483647 - c.bytes / 4 - uneven * npts)
    error ('kivwrite:value', 'kivwrite: too many samples for a KIV file (%d)', npts);
  end

  % A fresh header.
  f = repmat (c.undef, numel (c.F), 1);
  n = repmat (c.undef, numel (c.N), 1);
  e = repmat (c.undef, numel (c.I), 1);
  l = [1; 0; 1; 1; 0];
  k = repmat (c.undeftxt, numel (c.K), 1);
  n([7 8 9]) = [c.version 0 0];
  e(1) = 1;
  given = {};

  for field = fieldnames (hdr)'
    name = upper (field{1});
    v = hdr.(field{1});
    if (any (strcmp (name, given)))
      error ('kivwrite:field', 'kivwrite: header field %s given twice', name);
    end
    given{end+1} = name;
    undef = isempty (v) && ! ischar (v);
    [group, s] = slot (name, c);
    if (group == 'F')
      if (! undef && ! realscalar (v))
        error ('kivwrite:type', 'kivwrite: %s must be a real number', name);
      elseif (! undef && isfinite (v) && abs (v) > realmax ('single'))
        error ('kivwrite:value', 'kivwrite: %s = %g is beyond the 32-bit float range', name, v);
      end
      f(s) = ifelse (undef, c.undef, v);
    elseif (group == 'N')
      n(s) = integer (name, v, undef, c);
    elseif (group == 'I')
      if (ischar (v))
        ord = find (strcmp (upper (v), c.enum));
        if (rows (v) != 1 || isempty (ord))
          error ('kivwrite:value', 'kivwrite: %s: ''%s'' is not an enumerated value', name, v(:)');
        end
        e(s) = ord;
      else
        e(s) = integer (name, v, undef, c);
      end
    elseif (group == 'L')
      if (! (isscalar (v) && (islogical (v) || (isnumeric (v) && (v == 0 || v == 1)))))
        error ('kivwrite:type', 'kivwrite: %s must be true or false', name);
      end
      l(s) = v != 0;
    elseif (group == 'K' && s != 3)
      width = 8 + 8 * (s == 2);                 % KEVNM spans slots 2 and 3
      if (undef)
        v = repmat (c.undeftxt, 1, width / 8);
      elseif (! ischar (v) || rows (v) > 1)
        error ('kivwrite:type', 'kivwrite: %s must be a text (char row)', name);
      elseif (numel (v) > width)
        error ('kivwrite:value', 'kivwrite: %s is longer than %d characters: ''%s''', ...
               name, width, v);
      end
      v = reshape ([v, repmat(' ', 1, width - numel (v))], 8, [])';
      k(s:s + rows (v) - 1, :) = v;
    else
      error ('kivwrite:field', 'kivwrite: %s is not a header field%s', name, ...
             merge (strcmp (name, 'KEVNMC'), ' (it is characters 9 to 16 of KEVNM)', ''));
    end
  end

  % What follows from the data.
  if (! any (strcmp ('NPTS', given)) || n(10) == c.undef)
    n(10) = npts;
  elseif (n(10) != npts)
    error ('kivwrite:value', 'kivwrite: NPTS = %d but y has %d samples', n(10), npts);
  end
  if (n(7) != c.version)
    error ('kivwrite:value', 'kivwrite: NVHDR must be 6, the header version written');
  end
  if (uneven && l(1))
    if (any (strcmp ('LEVEN', given)))
      error ('kivwrite:value', 'kivwrite: LEVEN is true but x is given');
    end
    l(1) = 0;
  elseif (! uneven && ! l(1))
    error ('kivwrite:value', 'kivwrite: LEVEN is false but no x is given');
  end
  f = double (single (f));
  if (npts > 0 && uneven)
    f(6) = ifelse (any (strcmp ('B', given)), f(6), double (single (x(1))));
    f(7) = ifelse (any (strcmp ('E', given)), f(7), double (single (x(end))));
  elseif (npts > 0 && ! any (strcmp ('E', given)) && f(6) != c.undef && f(1) != c.undef)
    f(7) = f(6) + (npts - 1) * f(1);
    if (! isfinite (single (f(7))))
      error ('kivwrite:value', ['kivwrite: E = B + (NPTS-1)*DELTA = %.15g is not a finite ', ...
                                '32-bit float; give E'], f(7));
    end
  end

  f = distances (f, l, given, c);
  write (file, f, [n; e; l], k, y, x);
end

% GCARC, DIST, AZ and BAZ not given, from the positions by the plug-in's arithmetic: the
% library fills them the same way, so a file agrees with sphgeo to the bit whoever wrote it.
function f = distances (f, l, given, c)
  fslot = @(names) cellfun (@(name) nthargout (2, @slot, name, c), names);
  names = {'GCARC', 'DIST', 'AZ', 'BAZ'};
  wanted = ! ismember (names, given);
  p = f(fslot ({'STLA', 'STLO', 'EVLA', 'EVLO'}));
  [~, lcalda] = slot ('LCALDA', c);
  if (! l(lcalda) || ! any (wanted) || any (p == c.undef | ! isfinite (p)))
    return;
  end
  r = cell (1, 4);
  try
    [r{:}] = sphgeo (p(1), p(2), p(3), p(4));
  catch err
    error ('kivwrite:sphgeo', 'kivwrite: computing %s needs the sphgeo plug-in (%s)', ...
           strjoin (names(wanted), ', '), err.message);
  end
  r = double (single (real ([r{:}])));  % sphgeo returns complex matrices, imaginary values 0
  keep = wanted & isfinite (r);
  keep(3:4) &= ! (p(1) == p(3) && p(2) == p(4));  % at the event's place: no direction
  s = fslot (names);
  f(s(keep)) = r(keep);
end

% The group letter and slot of a field name; group ' ' when there is none.
function [group, s] = slot (name, c)
  for group = 'FNILK'
    s = find (strcmp (name, c.(group)));
    if (! isempty (s))
      return;
    end
  end
  group = ' ';
end

function ok = samples (v)
  ok = isnumeric (v) && isreal (v) && ! issparse (v) && (isvector (v) || isempty (v));
end

% Finite values that would be stored as infinities; NaNs and infinities given pass as they are.
function beyond (name, v)
  i = find (isinf (single (v)) & isfinite (v), 1);
  if (! isempty (i))
    error ('kivwrite:value', 'kivwrite: %s(%d) = %.15g is beyond the 32-bit float range', ...
           name, i, double (v(i)));
  end
end

function ok = realscalar (v)
  ok = (isnumeric (v) || islogical (v)) && isreal (v) && isscalar (v);
end

function w = integer (name, v, undef, c)
  if (undef)
    w = c.undef;
  elseif (! realscalar (v))
    error ('kivwrite:type', 'kivwrite: %s must be an integer', name);
  elseif (v != fix (v) || v < -2147483648 || v > 2147483647)
    error ('kivwrite:value', 'kivwrite: %s = %g is not a 32-bit integer', name, v);
  else
    w = double (v);
  end
end

function r = ifelse (cond, a, b)
  if (cond)
    r = a;
  else
    r = b;
  end
end

% Under a temporary name in the target's directory, renamed over the target
% only once every byte is out: a reader never sees a partial file.
function write (file, f, ints, k, y, x)
  dir = fileparts (file);
  if (isempty (dir))
    dir = '.';
  end
  tmp = tempname (dir, '.kivtmp-');
  [fid, msg] = fopen (tmp, 'w', 'ieee-le');
  if (fid < 0)
    error ('kivwrite:create', 'kivwrite: cannot create %s (%s)', file, msg);
  end
  try
    count = fwrite (fid, f, 'float32') + fwrite (fid, ints, 'int32') ...
            + fwrite (fid, uint8 (k'), 'uint8') + fwrite (fid, y, 'float32') ...
            + fwrite (fid, x, 'float32');
    status = fclose (fid);
    fid = -1;
    if (count != numel (f) + numel (ints) + numel (k) + numel (y) + numel (x) || status != 0)
      error ('kivwrite:write', 'kivwrite: writing %s failed', file);
    end
    [status, msg] = rename (tmp, file);
    if (status != 0)
      error ('kivwrite:create', 'kivwrite: cannot create %s (%s)', file, msg);
    end
  catch err
    if (fid >= 0)
      fclose (fid);
    end
    unlink (tmp);
    rethrow (err);
  end
end
