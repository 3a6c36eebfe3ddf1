% SPDX-License-Identifier: Apache-2.0
function [delta, dist, azim, bazim] = sphgeo_vec (slat, slon, elat, elon)
% SPHGEO_VEC  The computation of the plug-in sphgeo written as vectorised Octave code.
%   [delta, dist, azim, bazim] = sphgeo_vec(slat, slon, elat, elon)
%   Same steps, same order of operations and same decimal constants as sphgeo.mex, so the
%   results are bit-identical to it; the baseline of its benchmark and a cross-check of
%   its values. Where the C arc cosine and square root give NaN (argument out of range),
%   Octave would give a complex value; racos and rsqrt keep the real NaN instead.

  slatr = slat .* 0.01745329;
  slonr = slon .* 0.01745329;
  elatr = elat * 0.01745329;
  elonr = elon * 0.01745329;

  sc = 1.570796327 - atan (tan (slatr) .* 0.996647);
  ec = 1.570796327 - atan (tan (elatr) * 0.996647);

  west = ! (slonr >= 0.0);
  slonr(west) = slonr(west) + 6.283185307;
  if (! (elonr >= 0.0))
    elonr = elonr + 6.283185307;
  end

  sec = sin (ec);
  cec = cos (ec);
  sel = sin (elonr);
  cel = cos (elonr);
  ssc = sin (sc);
  csc = cos (sc);
  ssl = sin (slonr);
  csl = cos (slonr);

  cd = ((sec * cel) .* (ssc .* csl) + (sec * sel) .* (ssc .* ssl)) + cec .* csc;
  delta = racos (cd) .* 57.29577951;
  dist = (delta .* 0.01745329252) .* 6371.0;

  cdl = cel .* csl + sel .* ssl;
  sd = rsqrt (1.0 - cd .* cd);

  a = racos (((sec .* csc) - (cec .* ssc) .* cdl) ./ sd);
  w = (ssl .* cel - csl .* sel) < 0.0;
  a(w) = 6.283185307 - a(w);
  azim = a .* 57.29577951;

  b = racos (((cec .* ssc) - (sec .* csc) .* cdl) ./ sd);
  w = (csl .* sel - ssl .* cel) < 0.0;
  b(w) = 6.283185307 - b(w);
  bazim = b .* 57.29577951;
end

function y = racos (x)
  x(abs (x) > 1.0) = NaN;
  y = acos (x);
end

function y = rsqrt (x)
  x(x < 0.0) = NaN;
  y = sqrt (x);
end
