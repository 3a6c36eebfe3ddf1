% SPDX-License-Identifier: Apache-2.0
% kivread and kivwrite against the built converter (WFDXLATE) and header lister (KIVHDR), in a
% folder whose name has blanks. Run by octave.cmake with KIVF_OCTAVE_DIR, WFDXLATE, KIVHDR, KIVAUX.
1;
function b = slurp (name), fid = fopen (name); b = fread (fid, Inf, '*uint8'); fclose (fid); end
function put (name, b), fid = fopen (name, 'w'); fwrite (fid, b, 'uint8'); fclose (fid); end
function swapped (from, to) % the other byte order: numeric words reversed, text bytes kept
  w = reshape (slurp (from), 4, []); n = [1:110, 159:columns(w)];
  w(:, n) = flipud (w(:, n)); put (to, w(:));
end
function [id, msg] = refusal (f), id = 'none'; msg = ''; try f (); catch err; id = err.identifier; msg = err.message; end, end
function v = field (s, k, absent), if (isfield (s, k)) v = s.(k); else v = absent; end, end

addpath (getenv ('KIVF_OCTAVE_DIR'));
top = [tempname(), ' o k']; mkdir (top); cd (top); mkdir ('sub');
done = onCleanup (@() system (sprintf ('rm -rf "%s"', top)));

% The converter's output in both byte orders; rewritten with its header (E undefined), the same.
s = int32 ([0; -1; 16777217; 2147483647; -2147483648]); put ('raw.w', typecast (s, 'uint8'));
put ('d.wfdisc', "2015069 1425997327.325 ANMO BHZ 5 20.0 1 1 S o s - 1 2 . raw.w 0 0 x IU quiet\n");
assert (system (sprintf ('printf "d.wfdisc\\n" | "%s" > log', getenv ('WFDXLATE'))), 0);
want = struct ('DELTA', double (single (1) / single (20)), 'B', 0, 'NZYEAR', 2015, 'NZJDAY', ...
  69, 'NZHOUR', 14, 'NZMIN', 22, 'NZSEC', 7, 'NZMSEC', 325, 'NVHDR', 6, 'NINF', 0, 'NHST', 0, ...
  'NPTS', 5, 'IFTYPE', 'ITIME', 'LEVEN', true, 'LPSPOL', false, 'LOVROK', true, 'LCALDA', true, ...
  'LHDR5', false, 'KSTNM', 'ANMO', 'KUSER0', 'IU', 'KUSER1', 'quiet', 'KCMPNM', 'BHZ');
conv = fullfile (top, 'raw.w.kiv'); swapped (conv, 'sw.kiv');
for f = {conv, 'sw.kiv'}
  [y, h, x] = kivread (f{1});
  assert (isequal ({y, x, h}, {double(single (s)), zeros(0, 1), want}), f{1});
end
h.E = []; same = fullfile (top, 'same file.kiv'); kivwrite (same, y, h);
assert (isequal (slurp (same), slurp (conv)));

% Numeric words and texts all distinct (enumerated values 1 to 51) read as 133 fields, first and
% last of each group in place; written back, the same bytes; kivhdr -f shows each the same.
w = [typecast(single ((1:70) + 0.25), 'int32'), 1001:1006, 6, 1008, 1009, 1, 1011:1015, ...
     round(linspace (1, 51, 20)), 1, 0, 1, 0, 1]; % NVHDR 6, NPTS 1, LEVEN true
put ('all.kiv', [typecast(w, 'uint8')'; uint8(sprintf ('k%-7d', 1:24))'; 0; 0; 224; 64]); % y = 7
[y, a] = kivread ('all.kiv'); kivwrite ('again.kiv', y, a);
assert (isequal ({y, numel(fieldnames (a)), a.DELTA, a.FHDR70, a.NZYEAR, a.NHDR15, a.IFTYPE, ...
  a.IHDR20, a.LEVEN, a.LHDR5, a.KSTNM, a.KEVNM, a.KINST, slurp('again.kiv')}, {7, 133, 1.25, ...
  70.25, 1001, 1015, 'ITIME', 'IXYZ', true, true, 'k1', 'k2      k3', 'k24', slurp('all.kiv')}));
[~, out] = system (sprintf ('"%s"%s all.kiv', getenv ('KIVHDR'), sprintf (' -f %s', fieldnames (a){:})));
got = regexprep (strsplit (strtrim (out), "\t"), {'^true$', '^false$', '^(I\w+) .*'}, {'1', '0', '$1'});
assert (got, cellfun (@(n) num2str (a.(n)), fieldnames (a)', 'UniformOutput', 0));

% Uneven data, both byte orders; a fresh header as the library's; E derived; the empty file.
kivwrite ('u.kiv', [1.5 -2], struct ('DELTA', 1), [10 20.5]); swapped ('u.kiv', 'us.kiv');
for f = {'u.kiv', 'us.kiv'}
  [y, h, x] = kivread (f{1});
  assert (isequal ([y, x], [1.5 10; -2 20.5]) && ! h.LEVEN && h.B == 10 && h.E == 20.5, f{1});
end
kivwrite ('n.kiv', [NaN -Inf 3.4028235e38], struct ()); % as given, the largest float32 too
assert (isequaln (kivread ('n.kiv'), [NaN; -Inf; realmax('single')]));
kivwrite ('t.kiv', 1:3, struct ('B', 1, 'DELTA', 2)); % and fields as a fresh header has them:
kivwrite ('e.kiv', [], rmfield (want, {'NVHDR', 'NINF', 'NHST', 'IFTYPE', 'LEVEN', 'LPSPOL', ...
                                       'LOVROK', 'LCALDA', 'LHDR5', 'NPTS'}));
[y, h] = kivread ('e.kiv'); [~, t] = kivread ('t.kiv');
assert (numel (slurp ('e.kiv')) == 632 && isequal ({y, h, t.E}, {zeros(0, 1), setfield(want, 'NPTS', 0), 5}));

good = slurp (conv); neg = good; neg(317:320) = 255; % kivread's refusals
for c = {'missing', 'missing'; '.', 'open'; '/dev/null', 'open'; zeros(307, 1), 'short'; ...
         good(1:631), 'short'; zeros(308, 1), 'notkiv'; zeros(632, 1), 'notkiv'; ...
         [good; 0; 0; 0; 0], 'size'; good(1:end-4), 'size'; neg, 'npts'; [conv ' '], 'missing'; ...
         [conv char(0) 'x'], 'open'}' % names used exactly as given, never another file
  f = c{1}; if (! ischar (f)) put ('f', f); f = 'f'; end
  assert (refusal (@() kivread (f)), ['kivread:' c{2}]);
end
odd = good; odd(441:448) = [' A' 0 'X    ']; odd(457:464) = 'xyz     '; put ('odd', odd);
[~, h] = kivread ('odd'); assert ({h.KSTNM, h.KEVNM}, {'A', '-12345  xyz'}); % a NUL ends a text

w = @(varargin) @() kivwrite (varargin{:}); s1 = @(varargin) w (same, y, struct (varargin{:}));
for c = {s1('FOO', 1), 'field'; s1('KEVNMC', 'x'), 'field'; s1('DELTA', 'x'), 'type'; ...
         s1('LEVEN', 2), 'type'; s1('KSTNM', '123456789'), 'value'; s1('IDEP', 'IFOO'), 'value'; ...
         s1('NPTS', 4), 'value'; s1('NZYEAR', 1.5), 'value'; s1('LEVEN', false), 'value'; ...
         s1('NVHDR', 5), 'value'; s1('B', 1, 'b', 2), 'field'; w('no/such.kiv', 1, struct ()), ...
         'create'; w('sub', 1, struct ()), 'create'; w(same, 1:2, struct (), [0 -5e38]), 'value'; ...
         w(same, 1:3, struct ('B', 0, 'DELTA', 3e38)), 'value'; w([same char(0) 'x'], y, ...
         struct ()), 'create'}' % sub: a folder in the rename's way; E beyond float32; NUL: not same
  assert (refusal (c{1}), ['kivwrite:' c{2}]);
end
[~, msg] = refusal (@() kivwrite (same, [1 1e39 -1e40], struct ())); % the first beyond float32
assert (msg, 'kivwrite: y(2) = 1e+39 is beyond the 32-bit float range');
assert (isequal (slurp (same), good) && isempty (glob ('.kivtmp-*'))); % refusals left all as it was
assert (! isempty (strfind (help ('kivread'), '[y, hdr, x] = kivread (file)')));

% GCARC, DIST, AZ, BAZ not given: sphgeo's of the stored positions as 32-bit floats. Without the
% plug-in, refused where they are to be computed only. SPHGEO_DIR is empty under the sanitizers.
P = struct ('STLA', 34.9459, 'STLO', -106.4572, 'EVLA', 38.3, 'EVLO', 142.4);
Q = P; Q.GCARC = 1.5; Q.BAZ = []; A = P; [A.GCARC, A.DIST, A.AZ, A.BAZ] = deal (1, 2, 3, 4);
cases = {P, 'ssss'; Q, 'gss-'; A, 'gggg'; rmfield(P, 'EVLO'), '----'; setfield(P, 'EVLO', NaN), ...
         '----'; setfield(P, 'LCALDA', false), '----'; cell2struct({35.658; -83.774; 35.658; -83.774}, ...
         fieldnames (P)), 'ss--'}'; % the last at one place: no azimuths
for c = cases
  id = merge (any (c{2} == 's'), 'kivwrite:sphgeo', 'none');
  assert (refusal (@() kivwrite ('d.kiv', 1, c{1})), id);
end
sph = getenv ('SPHGEO_DIR'); f = {'GCARC', 'DIST', 'AZ', 'BAZ'};
if (isempty (sph)), cases = {}; printf ('kivf_octave: no sphgeo, distances unchecked\n');
else, addpath (sph); end
for c = cases
  kivwrite ('d.kiv', 1, c{1}); [~, h] = kivread ('d.kiv'); r = cell (1, 4);
  p = cellfun (@(k) double (single (field (c{1}, k, NaN))), fieldnames (P));
  [r{:}] = sphgeo (p(1), p(2), p(3), p(4)); want = single (real ([r{:}])); g = c{2} == 'g';
  want(g) = cellfun (@(k) c{1}.(k), f(g)); want(c{2} == '-') = -12345;
  got = cellfun (@(k) single (field (h, k, -12345)), f);
  assert (isequal (typecast (got, 'uint32'), typecast (want, 'uint32')), c{2});
end
printf ('kivf_octave: all checks passed\n');
