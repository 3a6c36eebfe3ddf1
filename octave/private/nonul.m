% SPDX-License-Identifier: Apache-2.0
function nonul (file, id, fmt, varargin)
% Stop with error id when file holds a NUL: the system would see only the name before it, so
% another file would be used. fmt shows the arguments after it, then the name, its NULs as '?'.
  if (any (file == char (0)))
    error (id, fmt, varargin{:}, strrep (file, char (0), '?'));
  end
end
