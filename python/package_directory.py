"""Prints where the vqpeek package goes under an install prefix, relative to
it: the interpreter's package directory under that prefix (the shortest of
site.getsitepackages() there, so /usr gives lib/python3/dist-packages on
Debian rather than its local/ directory), else lib/pythonX.Y/site-packages.

Usage: package_directory.py PREFIX
"""
import os
import site
import sys


def main():
    prefix = os.path.realpath(sys.argv[1])
    found = []
    for directory in site.getsitepackages():
        real = os.path.realpath(directory)
        if real.startswith(prefix.rstrip(os.sep) + os.sep):
            found.append(os.path.relpath(real, prefix))
    if found:
        print(min(found, key=lambda path: path.count(os.sep)))
    else:
        print(f"lib/python{sys.version_info[0]}.{sys.version_info[1]}/site-packages")


if __name__ == "__main__":
    main()
