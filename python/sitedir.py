# SPDX-License-Identifier: Apache-2.0
"""Prints where the kivf package goes under the prefix given, relative to it.

A site directory of this interpreter inside the prefix's lib/ when there is one, so that the
package is found without PYTHONPATH; else the interpreter's scheme for an own prefix."""
import os
import site
import sys
import sysconfig

prefix = os.path.normpath(sys.argv[1])
for d in site.getsitepackages():
    rel = os.path.relpath(d, prefix)
    if rel.split(os.sep)[0] in ("lib", "lib64"):
        break
else:
    rel = os.path.relpath(sysconfig.get_path("platlib", "posix_prefix",
                                             vars={"base": prefix, "platbase": prefix}), prefix)
print(rel)
