% SPDX-License-Identifier: Apache-2.0
function [y, hdr, x] = kivread (file)
% KIVREAD  Read a KIV file: its samples and its header.
%
%   [y, hdr] = kivread (file)
%   [y, hdr, x] = kivread (file)
%
%   y    the NPTS samples, a double column
%   hdr  the header, a struct whose fields are the header's field names
%        (DELTA, B, NPTS, KSTNM, ...); fields undefined in the file are
%        absent:
%          floating and integer fields  doubles (the integers exact)
%          enumerated fields            the value's name, e.g. 'ITIME'; the
%                                       stored number when it is not one of
%                                       the 51 named values
%          logical fields               true or false, always present
%                                       (LEVEN, LPSPOL, LOVROK, LCALDA, LHDR5)
%          text fields                  char rows trimmed at both ends (a NUL
%                                       ends a text); KEVNM holds all 16
%                                       characters of the event name (its
%                                       second half, KEVNMC, is no field)
%   x    for an unevenly spaced file (LEVEN false) the NPTS independent
%        values stored after the samples, a double column; empty otherwise
%
%   Files written on machines of either byte order are read: a KIV file is
%   recognised by the header version 6 at byte 304, in either order. Its size
%   must be 632 + 4*NPTS bytes, 632 + 8*NPTS when LEVEN is false.
%
%   Every refusal is an error with an identifier:
%     kivread:usage    bad arguments
%     kivread:missing  no such file
%     kivread:open     not a plain file, it cannot be opened, or its name
%                      holds a NUL (never another file read)
%     kivread:short    shorter than the 632-byte header
%     kivread:notkiv   no header version 6 at byte 304
%     kivread:npts     NPTS negative or undefined
%     kivread:size     the size does not match NPTS and LEVEN
%     kivread:read     a read failed
%
%   Example:
%     [y, hdr] = kivread ('anmo.bhz.w.kiv');
%     t = hdr.B + hdr.DELTA * (0:hdr.NPTS-1)';
%     plot (t, y); title (hdr.KSTNM);
%
%   See also: kivwrite.

  if (nargin != 1 || ! ischar (file) || rows (file) != 1)
    error ('kivread:usage', 'Usage: [y, hdr, x] = kivread (file), file a name');
  end
  % The library's messages (from kivcat), each an identifier and a catalogue text; the text goes
  % in as an argument so that nothing in it is taken for a format.
  c = kivcat ();
  m = c.msg;
  nonul (file, m.KivOpen.id, '%s %s (The name holds a NUL character.)', m.KivOpen.text);

  [st, err, msg] = stat (file);
  missing = err != 0 && errno () == errno ('ENOENT');   % read at once, before anything resets it
  if (missing)
    error (m.KivMissing.id, '%s %s', m.KivMissing.text, file);
  elseif (err != 0)
    error (m.KivOpen.id, '%s %s (%s)', m.KivOpen.text, file, msg);
  elseif (! S_ISREG (st.mode))
    error (m.KivOpen.id, '%s %s (Not a plain file.)', m.KivOpen.text, file);
  end
  [fid, msg] = fopen (file, 'r');
  if (fid < 0)
    error (m.KivOpen.id, '%s %s (%s)', m.KivOpen.text, file, msg);
  end
  sz = st.size;
  unwind_protect
    % Up to NVHDR, its last byte v, a file can be told from another.
    v = 4 * c.at.NVHDR;
    if (sz < v)
      error (m.KivShort.id, '%s %s (%d bytes)', m.KivShort.text, file, sz);
    end
    want = min (sz, c.bytes);
    raw = fread (fid, want, '*uint8');
    if (numel (raw) != want)
      error (m.KivRead.id, '%s %s', m.KivRead.text, file);
    end
    nvhdr = typecast (raw(v-3:v), 'int32');
    swapped = nvhdr != c.version;
    if (swapped && swapbytes (nvhdr) != c.version)
      error (m.KivNotKiv.id, '%s %s', m.KivNotKiv.text, file);
    end
    if (sz < c.bytes)
      error (m.KivShort.id, '%s %s (%d bytes)', m.KivShort.text, file, sz);
    end

    words = typecast (raw(1:4 * numel (c.numeric)), 'uint32');
    if (swapped)
      words = swapbytes (words);
    end
    ints = double (typecast (words, 'int32'));    % the floating words too, never used as such
    npts = ints(c.at.NPTS);
    leven = ints(c.at.LEVEN) != 0;
    if (npts < 0)
      error (m.KivNpts.id, '%s %s (NPTS = %d)', m.KivNpts.text, file, npts);
    end
    expect = c.bytes + npts * (4 + 4 * ! leven);
    if (sz != expect)
      error (m.KivSize.id, '%s %s (%d bytes, expected %d for NPTS = %d and LEVEN %s)', ...
             m.KivSize.text, file, sz, expect, npts, merge (leven, 'true', 'false'));
    end

    % This machine's order, or the other one.
    if ((typecast (uint16 (1), 'uint8')(1) == 1) != swapped)
      arch = 'ieee-le';
    else
      arch = 'ieee-be';
    end
    y = fread (fid, npts, 'float32=>double', 0, arch)(:);     % (:) keeps 0 samples a column
    x = zeros (0, 1);
    if (nargout > 2 && ! leven)
      x = fread (fid, npts, 'float32=>double', 0, arch)(:);
    end
    if (numel (y) != npts || (nargout > 2 && ! leven && numel (x) != npts))
      error (m.KivData.id, '%s %s', m.KivData.text, file);
    end
  unwind_protect_cleanup
    fclose (fid);
  end_unwind_protect
  if (nargout > 1)
    nf = numel (c.F);
    hdr = header ([double(typecast (words(1:nf), 'single')); ints(nf+1:end)], ...
                  raw(4 * numel (words) + 1:end), c);
  end
end

% The header as a struct: undefined fields left out, values in their Octave form.
function hdr = header (num, text, c)
  % Numeric fields: defined ones only, enumerated values by name, logicals as logicals.
  def = num != c.undef;
  def(c.Lwords) = true;
  vals = num2cell (num);
  vals(c.Lwords) = num2cell (num(c.Lwords) != 0);
  e = num(c.Iwords);
  named = e >= 1 & e <= numel (c.enum);
  vals(c.Iwords(named)) = c.enum(e(named));

  % Texts: undefined ones out, each up to its first NUL and without blanks at either end.
  t = [char(text(:))', ' '](c.textidx);
  kdef = ! all (t(:, 1:8) == c.undeftxt, 2);
  second = t(2, 9:16);
  if (any (text == 0))                      % rare: skipped when it cannot matter
    t(cumsum (t == char (0), 2) > 0) = ' ';
  end
  kdef(2) = kdef(2) || ! (strcmp (second, c.undeftxt) || all (t(2, 9:16) == ' '));
  if (any (t(:, 1) == ' '))
    [~, first] = max (t != ' ', [], 2);     % leading blanks rotated to the end,
    t = t(mod ((0:15) + first - 1, 16) * rows (t) + (1:rows (t))');
  end
  k = cellstr (t);                           % where cellstr drops them

  hdr = cell2struct ([vals(def); k(kdef)], [c.numeric(def), c.text(kdef)], 1);
end
