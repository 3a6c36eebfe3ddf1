% kivread and kivwrite against the built converter (WFDXLATE) and header lister (KIVHDR), in a
% folder whose name has blanks. Run by octave.cmake with KIVF_OCTAVE_DIR, WFDXLATE, KIVHDR, KIVAUX.
1;
function bytes = slurp (name)
  fid = fopen (name); bytes = fread (fid, Inf, '*uint8'); fclose (fid);
end
function put (name, bytes)
  fid = fopen (name, 'w'); fwrite (fid, bytes, 'uint8'); fclose (fid);
end
function swapped (from, to)      % the other byte order: numeric words reversed, text bytes kept
  w = reshape (slurp (from), 4, []);
  w(:, [1:110, 159:end]) = flipud (w(:, [1:110, 159:end]));
  put (to, w(:));
end
function id = refusal (f)
  id = 'none'; try f (); catch err; id = err.identifier; end
end

addpath (getenv ('KIVF_OCTAVE_DIR'));
top = [tempname(), ' o k']; mkdir (top); cd (top);
done = onCleanup (@() system (sprintf ('rm -rf "%s"', top)));

% The converter's output, in both byte orders.
s = int32 ([0; -1; 16777217; 2147483647; -2147483648]);
put ('raw.w', typecast (s, 'uint8'));
put ('d.wfdisc', "2015069 1425997327.325 ANMO BHZ 5 20.0 1 1 S o s - 1 2 . raw.w 0 0 x IU quiet\n");
assert (system (sprintf ('printf "d.wfdisc\\n" | "%s" > log', getenv ('WFDXLATE'))), 0);
want = struct ('DELTA', double (single (1) / single (20)), 'B', 0, 'NZYEAR', 2015, 'NZJDAY', ...
  69, 'NZHOUR', 14, 'NZMIN', 22, 'NZSEC', 7, 'NZMSEC', 325, 'NVHDR', 6, 'NINF', 0, 'NHST', 0, ...
  'NPTS', 5, 'IFTYPE', 'ITIME', 'LEVEN', true, 'LPSPOL', false, 'LOVROK', true, 'LCALDA', true, ...
  'LHDR5', false, 'KSTNM', 'ANMO', 'KUSER0', 'IU', 'KUSER1', 'quiet', 'KCMPNM', 'BHZ');
conv = fullfile (top, 'raw.w.kiv');
swapped (conv, 'sw.kiv');
for f = {conv, 'sw.kiv'}
  [y, h, x] = kivread (f{1});
  assert (isequal (y, double (single (double (s)))) && isequal (x, zeros (0, 1)), f{1});
  assert (isequal (orderfields (h), orderfields (want)), f{1});
end

% Rewritten with the same header (E left undefined), the converter's file comes back byte for byte.
h.E = [];
same = fullfile (top, 'same file.kiv');
kivwrite (same, y, h);
assert (isequal (slurp (same), slurp (conv)));

% Every field kivhdr lists, set from Octave: kivhdr shows each under its name with its value.
[~, list] = system (sprintf ('"%s" --all raw.w.kiv', getenv ('KIVHDR')));
names = regexp (list, '^(?![A-Z0-9]*MARKER )([A-Z0-9]+) ', 'tokens', 'lineanchors');
names = setdiff ([names{:}], {'FILENAME', 'KSTCMP', 'KZDATE', 'KZTIME', 'NPTS', 'LEVEN'});
enums = {'IVEL', 'IXYZ', 'IQUAKE', 'IGOOD', 'IUNKN', 'IRLDTA'};
for j = 1:numel (names)
  switch (names{j}(1))
    case 'N', v = 1000 + j;
    case 'I', v = enums{mod (j, 6) + 1};
    case 'L', v = mod (j, 2) == 1;
    case 'K', v = sprintf ('k%d', j);
    otherwise, v = j + 0.25;
  end
  a.(names{j}) = v;
end
a.KEVNM = 'a 16-char event!';
kivwrite ('all.kiv', (1:3)', a);
[~, shown] = system (sprintf ('"%s" --all all.kiv', getenv ('KIVHDR')));
for j = 1:numel (names)
  v = a.(names{j});
  if (islogical (v)) v = merge (v, 'true', 'false'); elseif (isnumeric (v)) v = num2str (v); end
  line = ['^' names{j} ' +' regexptranslate('escape', v) '( |$)'];
  assert (! isempty (regexp (shown, line, 'lineanchors')), names{j});
end
[y, r] = kivread ('all.kiv');
a.NPTS = 3; a.LEVEN = true; a.NVHDR = 6; a.NINF = 0; a.NHST = 0;  % and what a fresh header holds
a.LPSPOL = false; a.LCALDA = true; a.LHDR5 = false;
assert (isequal (y, (1:3)') && isequal (orderfields (r), orderfields (a)));

% Uneven data, both byte orders; the empty file boundary.
kivwrite ('u.kiv', [1.5 -2], struct ('DELTA', 1), [10 20.5]);
swapped ('u.kiv', 'us.kiv');
for f = {'u.kiv', 'us.kiv'}
  [y, h, x] = kivread (f{1});
  assert (isequal ([y, x], [1.5 10; -2 20.5]) && ! h.LEVEN && h.B == 10 && h.E == 20.5, f{1});
end
kivwrite ('e.kiv', [], struct ('B', 0, 'DELTA', 1));
[y, h] = kivread ('e.kiv');
assert (numel (slurp ('e.kiv')) == 632 && isequal (y, zeros (0, 1)) && ! isfield (h, 'E'));

% Refusals of kivread.
good = slurp (conv);
v6 = [zeros(304, 1, 'uint8'); 6; 0; 0; 0];
put ('z307', v6(1:307)); put ('z308', v6); put ('zero632', zeros (632, 1));
put ('cut', good(1:631)); put ('long', [good; 0; 0; 0; 0]); put ('short', good(1:end-4));
neg = good; neg(317:320) = 255; put ('neg', neg);
for c = {'missing', 'missing'; '.', 'open'; 'z307', 'short'; 'z308', 'short'; 'zero632', 'notkiv';
         'cut', 'short'; 'long', 'size'; 'short', 'size'; 'neg', 'npts'}'
  assert (refusal (@() kivread (c{1})), ['kivread:' c{2}]);
end

% Refusals of kivwrite leave the old file and no temporary one.
for c = {'FOO', 1, 'field'; 'KEVNMC', 'x', 'field'; 'DELTA', 'x', 'type'; 'LEVEN', 2, 'type';
         'KSTNM', '123456789', 'value'; 'IDEP', 'IFOO', 'value'; 'NPTS', 4, 'value';
         'NZYEAR', 1.5, 'value'; 'LEVEN', false, 'value'}'
  assert (refusal (@() kivwrite (same, y, struct (c{1}, c{2}))), ['kivwrite:' c{3}]);
end
assert (refusal (@() kivwrite ('no/such.kiv', 1, struct ())), 'kivwrite:create');
assert (isequal (slurp (same), good) && isempty (glob ('.kivtmp-*')));

assert (! isempty (strfind (help ('kivread'), '[y, hdr, x] = kivread (file)')));
printf ('kivf_octave: all checks passed\n');
