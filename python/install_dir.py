"""Print where this python3 looks for modules under an install prefix,
relative to it: the directory the interpreter itself names for the prefix.

    python3 install_dir.py PREFIX

Debian's python3 searches /usr/lib/python3/dist-packages (its packages) and
/usr/local/lib/python3.X/dist-packages, and nothing under another prefix;
there, and in a venv, the standard scheme's site-packages is the place, to
be put on PYTHONPATH. Each lies three levels under the prefix, which the
extension's RUNPATH relies on.
"""
import os
import sys
import sysconfig


def platlib(scheme, base):
    return os.path.normpath(sysconfig.get_path("platlib", scheme, vars={"base": base, "platbase": base}))


prefix = os.path.normpath(os.path.abspath(sys.argv[1]))
default_scheme = getattr(sysconfig, "get_default_scheme", lambda: "posix_prefix")()
candidates = []
if prefix == os.path.normpath(sys.base_prefix) and "deb_system" in sysconfig.get_scheme_names():
    candidates.append(platlib("deb_system", prefix))
candidates += [platlib(default_scheme, sys.base_prefix), platlib("posix_prefix", prefix)]
print(next(os.path.relpath(path, prefix) for path in candidates if path.startswith(prefix + os.sep)))
