#!/usr/bin/env python3
"""Makes an assembled bundle self-contained: copies in the Qt plugins and every
shared library the programs, the plugins and the libraries opened at run time
need, then points each file's run path at the bundle's lib/ folder.

    bundle_libraries.py BUNDLE [--plugin FILE]... [--opened SONAME]...

Left out are the libraries every Linux desktop has and that must match the
running system (the C library and its loader, the GL dispatch libraries and the
GPU drivers behind them, the X11/xcb connection, fontconfig and freetype): the
walk stops at them, so what only they need is left to the system as well.

Every run path is written as DT_RPATH, not DT_RUNPATH: an RPATH is searched
before LD_LIBRARY_PATH and, for a library without a path of its own, on behalf
of everything loaded below it. So the bundle's copies win over whatever the
user's environment points at, and the libraries' own dependencies, the
libraries opened with dlopen (libcurl) and the plugins' dependencies all
resolve inside the bundle, without any variable set for the process and its
children.
"""
import os
import re
import shutil
import subprocess
import sys

# Sonames provided by every desktop, matched as whole names or by prefix.
SYSTEM_LIBRARIES = [
    # glibc itself
    "ld-linux-x86-64.so.2", "linux-vdso.so.1", "libc.so.6", "libm.so.6", "libdl.so.2", "libpthread.so.0",
    "librt.so.1", "libresolv.so.2", "libutil.so.1", "libanl.so.1", "libmvec.so.1", "libBrokenLocale.so.1",
    "libnss_", "libthread_db.so.1",
    # OpenGL and its drivers: the ones of the running system or none at all
    "libGL.so.1", "libEGL.so.1", "libGLX.so.0", "libGLdispatch.so.0", "libGLESv2.so.2", "libdrm.so.2",
    "libgbm.so.1", "libvulkan.so.1",
    # the X server connection, and the font machinery configured by the system
    "libX11.so.6", "libxcb.so.1", "libfontconfig.so.1", "libfreetype.so.6",
]


def is_system(soname):
    return any(soname == name or (name.endswith("_") and soname.startswith(name)) for name in SYSTEM_LIBRARIES)


def library_paths():
    """The loader's cache: soname -> path, for this machine's architecture."""
    out = subprocess.run(["ldconfig", "-p"], check=True, capture_output=True, text=True).stdout
    found = {}
    for line in out.splitlines():
        m = re.match(r"\s*(\S+) \(([^)]*)\) => (\S+)", line)
        if m and "x86-64" in m.group(2) and m.group(1) not in found:
            found[m.group(1)] = m.group(3)
    return found


def needed(path):
    out = subprocess.run(["readelf", "-d", "--wide", path], check=True, capture_output=True, text=True).stdout
    return re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", out)


def set_run_path(path, run_path):
    subprocess.run(["patchelf", "--force-rpath", "--set-rpath", run_path, path], check=True)


def main(argv):
    bundle = argv[1]
    plugins, opened = [], []
    args = argv[2:]
    while args:
        flag, value, args = args[0], args[1], args[2:]
        (plugins if flag == "--plugin" else opened).append(value)

    programs = sorted(os.path.join(bundle, "bin", n) for n in os.listdir(os.path.join(bundle, "bin")))
    lib_dir = os.path.join(bundle, "lib")
    os.makedirs(lib_dir, exist_ok=True)

    copied_plugins = []
    for plugin in plugins:
        category = os.path.basename(os.path.dirname(plugin))
        target = os.path.join(bundle, "plugins", category, os.path.basename(plugin))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(plugin, target)
        os.chmod(target, 0o644)
        copied_plugins.append(target)

    cache = library_paths()
    wanted = [n for n in opened]
    for path in programs + copied_plugins:
        wanted += needed(path)
    bundled = {}
    while wanted:
        soname = wanted.pop()
        if soname in bundled or is_system(soname):
            continue
        source = cache.get(soname)
        if not source:
            sys.exit(f"bundle_libraries: {soname} is needed but not installed on this machine")
        target = os.path.join(lib_dir, soname)
        shutil.copyfile(os.path.realpath(source), target)
        os.chmod(target, 0o644)
        bundled[soname] = target
        wanted += needed(target)

    for program in programs:
        set_run_path(program, "$ORIGIN/../lib")
    for library in bundled.values():
        set_run_path(library, "$ORIGIN")
    for plugin in copied_plugins:
        set_run_path(plugin, "$ORIGIN/../../lib")

    if copied_plugins:
        # Qt reads qt.conf beside the program: it finds the bundle's plugins
        # without an environment variable that its children would inherit.
        with open(os.path.join(bundle, "bin", "qt.conf"), "w") as conf:
            conf.write("[Paths]\nPrefix = ..\nPlugins = plugins\nLibraries = lib\n")
        os.chmod(os.path.join(bundle, "bin", "qt.conf"), 0o644)


if __name__ == "__main__":
    main(sys.argv)
