% kivread and kivwrite against the built converter (WFDXLATE) and header lister (KIVHDR), in a
% folder whose name has blanks. Run by octave.cmake with KIVF_OCTAVE_DIR, WFDXLATE, KIVHDR, KIVAUX.
1;
function b = slurp (name), fid = fopen (name); b = fread (fid, Inf, '*uint8'); fclose (fid); end
function put (name, b), fid = fopen (name, 'w'); fwrite (fid, b, 'uint8'); fclose (fid); end
function swapped (from, to)      % the other byte order: numeric words reversed, text bytes kept
  w = reshape (slurp (from), 4, []); num = [1:110, 159:columns(w)];
  w(:, num) = flipud (w(:, num)); put (to, w(:));
end
function id = refusal (f), id = 'none'; try f (); catch err; id = err.identifier; end, end

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
conv = fullfile (top, 'raw.w.kiv'); swapped (conv, 'sw.kiv');
for f = {conv, 'sw.kiv'}
  [y, h, x] = kivread (f{1});
  assert (isequal (y, double (single (double (s)))) && isequal (x, zeros (0, 1)), f{1});
  assert (isequal (orderfields (h), orderfields (want)), f{1});
end

% Rewritten with the same header (E left undefined), the converter's file comes back byte for byte.
h.E = []; same = fullfile (top, 'same file.kiv');
kivwrite (same, y, h);
assert (isequal (slurp (same), slurp (conv)));

% Every field in its slot, named as in the library's catalogue and as kivhdr lists it.
src = fileread (fullfile (fileparts (mfilename ('fullpath')), '..', 'dff', 'catalogue.cpp'));
grp = regexp (src, 'k(?:Float|Int|EnumField|Logical|Text)Names = \{([^}]*)\}', 'tokens');
grp = cellfun (@(g) regexp (g{1}, '\w+', 'match'), grp, 'UniformOutput', false);
enums = regexp (src, '(?<=\{")I\w+(?=", ")', 'match');
for g = 1:5
  for s = 1:numel (grp{g})
    a.(grp{g}{s}) = {s + 0.25, 1000 + s, enums{mod(s, 21) + 31}, mod(s, 2) == 1, ...
                     sprintf('k%d', s)}{g};
  end
end
a = rmfield (a, 'KEVNMC'); a.KEVNM = 'a 16-char event!'; a.NPTS = 3; a.NVHDR = 6;
kivwrite ('all.kiv', (1:3)', a);
[y, r] = kivread ('all.kiv');
assert (isequal (y, (1:3)') && isequal (r, a) && isequal (fieldnames (r), fieldnames (a)));
[~, shown] = system (sprintf ('"%s" --all all.kiv', getenv ('KIVHDR')));
shown = regexp (shown, '^(\w+) +([^\n]*)', 'tokens', 'lineanchors');
shown = vertcat (shown{isfield (a, cellfun (@(t) t{1}, shown, 'UniformOutput', false))});
assert (rows (shown) == 66 && islogical (r.LHDR5));  % DEFAULT's 81 but its 15 auxiliary names
for t = shown'
  v = a.(t{1});
  if (islogical (v)) v = merge (v, 'true', 'false'); elseif (isnumeric (v)) v = num2str (v); end
  assert (! isempty (regexp (t{2}, ['^' regexptranslate('escape', v) '( |$)'])), t{1});
end
for n = 1:numel (enums)              % every enumerated value's name stands for its ordinal
  kivwrite ('n.kiv', [], struct ('IDEP', enums{n}));
  assert (typecast (slurp ('n.kiv')(345:348), 'int32') == n, enums{n});
end

% Uneven data, both byte orders; a fresh header as the library's; E derived; the empty file.
kivwrite ('u.kiv', [1.5 -2], struct ('DELTA', 1), [10 20.5]);
swapped ('u.kiv', 'us.kiv');
for f = {'u.kiv', 'us.kiv'}
  [y, h, x] = kivread (f{1});
  assert (isequal ([y, x], [1.5 10; -2 20.5]) && ! h.LEVEN && h.B == 10 && h.E == 20.5, f{1});
end
fresh = {'NVHDR', 'NINF', 'NHST', 'IFTYPE', 'LEVEN', 'LPSPOL', 'LOVROK', 'LCALDA', 'LHDR5', 'NPTS'};
kivwrite ('e.kiv', [], rmfield (want, fresh)); kivwrite ('t.kiv', 1:3, struct ('B', 1, 'DELTA', 2));
[y, h] = kivread ('e.kiv'); [~, t] = kivread ('t.kiv');
assert (numel (slurp ('e.kiv')) == 632 && isequal (y, zeros (0, 1)) && t.E == 5);
assert (isequal (h, setfield (want, 'NPTS', 0)));

% Refusals of kivread.
good = slurp (conv);
put ('z307', zeros (307, 1)); put ('z308', zeros (308, 1)); put ('z632', zeros (632, 1));
put ('cut', good(1:631)); put ('long', [good; 0; 0; 0; 0]); put ('short', good(1:end-4));
neg = good; neg(317:320) = 255; put ('neg', neg);
for c = {'missing', 'missing'; '.', 'open'; '/dev/null', 'open'; 'z307', 'short'; 'cut', 'short';
         'z308', 'notkiv'; 'z632', 'notkiv'; 'long', 'size'; 'short', 'size'; 'neg', 'npts'}'
  assert (refusal (@() kivread (c{1})), ['kivread:' c{2}]);
end
odd = good; odd(441:448) = [' A' 0 'X    ']; odd(457:464) = 'xyz     '; put ('odd', odd);
[~, h] = kivread ('odd');          % a NUL ends a text; KEVNM undefined in its first half only
assert (strcmp (h.KSTNM, 'A') && strcmp (h.KEVNM, '-12345  xyz'));

% Refusals of kivwrite leave the old file and no temporary one.
for c = {'FOO', 1, 'field'; 'KEVNMC', 'x', 'field'; 'DELTA', 'x', 'type'; 'LEVEN', 2, 'type';
         'KSTNM', '123456789', 'value'; 'IDEP', 'IFOO', 'value'; 'NPTS', 4, 'value';
         'NZYEAR', 1.5, 'value'; 'LEVEN', false, 'value'; 'NVHDR', 5, 'value'}'
  assert (refusal (@() kivwrite (same, y, struct (c{1}, c{2}))), ['kivwrite:' c{3}]);
end
assert (refusal (@() kivwrite (same, y, struct ('B', 1, 'b', 2))), 'kivwrite:field');
mkdir ('sub');                       % in the way of the rename: the temporary file must go
for f = {'no/such.kiv', 'sub'}
  assert (refusal (@() kivwrite (f{1}, 1, struct ())), 'kivwrite:create', f{1});
end
assert (isequal (slurp (same), good) && isempty (glob ('.kivtmp-*')));

assert (! isempty (strfind (help ('kivread'), '[y, hdr, x] = kivread (file)')));
printf ('kivf_octave: all checks passed\n');
