% SPDX-License-Identifier: Apache-2.0
function [delta, dist, azim, bazim] = sphgeo (slat, slon, elat, elon)
% SPHGEO  Distance and azimuth from one event to one or more stations.
%
%   [delta, dist, azim, bazim] = sphgeo(slat, slon, elat, elon)
%
%   slat, slon  station latitudes and longitudes in degrees (north and east
%               positive): real double vectors, row or column, of equal length
%   elat, elon  event latitude and longitude in degrees: real double scalars
%
%   delta  angular distance in degrees, between 0 and 180
%   dist   distance along the surface in kilometres (Earth radius 6371 km)
%   azim   azimuth at the event towards each station, in degrees clockwise
%          from north, between 0 and 360
%   bazim  back-azimuth: azimuth at each station towards the event, in
%          degrees clockwise from north, between 0 and 360
%
%   Every result has the shape of slat. Only its first max(size(slat))
%   elements, in column order, are computed, from the same elements of slat
%   and slon; for a matrix slat every other element is 0 (a 3-by-3 slat
%   gives 3 stations, not 9). The results are created as
%   complex matrices whose imaginary part is 0; GNU Octave returns them as
%   real matrices.
%
%   Latitudes are first corrected for the Earth's flattening:
%   tan(corrected) = 0.996647 * tan(latitude). Degrees become radians with the
%   factor 0.01745329 and radians degrees with 57.29577951; the distance uses
%   delta * 0.01745329252 * 6371. Results are bit-identical on every machine
%   whose mathematical library gives the same sines, cosines, tangents and arc
%   functions. Longitudes are meant to lie in [-180, 180]: 350 and -10 give
%   slightly different results.
%
%   Coincident or antipodal positions: there the sine of the distance is 0
%   and the results are those of IEEE arithmetic, not special values. For
%   coincident positions delta and dist are 0 or a tiny value, and azim and
%   bazim are NaN (0/0) or meaningless; do not rely on either.
%
%   All four results must be requested and all four arguments given; a call
%   that does not fails with the error
%   "sphgeo: Usage: [delta, dist, azim, bazim] = sphgeo(slat, slon, elat, elon)".
%   Other wrong calls fail with an error that says what is wrong: an argument
%   that is not a real full double ("sphgeo: slat must be a real double
%   vector"), slon with fewer values than the stations ("sphgeo: slon has
%   fewer elements than slat"), an empty elat or elon ("sphgeo: elat must not
%   be empty"), or a slat that is empty but not 0-by-0.
%
%   Example:
%     [delta, dist, azim, bazim] = sphgeo([0 10], [10 0], 0, 0)
%
%   This file holds the help text; the function itself is the compiled
%   plug-in sphgeo.mex in the same folder.

  error ('sphgeo: the compiled plug-in sphgeo.mex must lie beside sphgeo.m on the path');
end
