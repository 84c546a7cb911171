#!/usr/bin/python3
"""Where the engine finds the session library, tried in folders laid out for it.

The host's program, the engine and the working directory are three different folders,
as when a shortcut starts the client in a folder of the user's. Three layouts:

  beside      the engine with native/<qel> beside it; the working directory holds a
              planted native/<qel> (and on Windows a planted avrt.dll, also beside
              the host's program): ours is bound, no planted file runs.
  empty-cwd   the same engine folder, a working directory without native/: bound.
  fallback    the engine alone in its folder, native/<qel> under the working
              directory: the relative load finds it, and it is bound.

A planted library writes "<its file>.ran" when it is loaded (planted_library.cpp).

  session_library_placement.py --scratch DIR --tallix F --qel F --planted F
      (--wine WINE-RUN --probe tallix_placement_probe.exe | --java JAVA --classpath CP)

Example (Linux):
  engine/tests/session_library_placement.py --scratch /tmp/p --tallix build/linux/stage/libtallix.so \\
      --qel build/linux/stage/native/libqel.so --planted build/linux/tests/libplanted_library.so \\
      --java java --classpath build/linux/java/tallix_placement_probe.jar:build/linux/java/tallix_java.jar
"""
import argparse
import os
import shutil
import subprocess
import sys


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Layout:
    def __init__(self, args):
        self.args = args
        self.wine = args.wine is not None
        self.qel_name = os.path.basename(args.qel)
        self.tallix_name = os.path.basename(args.tallix)

    def plant(self, folder, name):
        os.makedirs(folder, exist_ok=True)
        shutil.copy(self.args.planted, os.path.join(folder, name))

    def run(self, root, engine_dir, cwd):
        """Runs the probe with the engine in engine_dir and the working directory cwd."""
        if self.wine:
            host = os.path.join(root, "host")
            os.makedirs(host, exist_ok=True)
            probe = shutil.copy(self.args.probe, host)
            # Where a by-name load looks first: the host program's own folder.
            self.plant(host, "avrt.dll")
            command = [self.args.wine, probe, windows_path(os.path.join(engine_dir, self.tallix_name))]
        else:
            command = [self.args.java, "-Djava.library.path=" + engine_dir, "-cp", self.args.classpath,
                       "com.zephra.tallix.SessionLibraryProbe"]
        result = subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=120)
        if result.returncode == 77:
            print("SKIPPED: " + result.stderr.strip())
            sys.exit(77)
        output = result.stdout.replace("\r", "")
        if result.returncode != 0:
            raise AssertionError("probe exited with %d:\n%s%s" % (result.returncode, output, result.stderr))
        loaded = {}
        bound = None
        version = None
        for line in output.splitlines():
            parts = line.split(" ", 2)
            if parts[0] == "bound":
                bound = parts[1] == "true"
            elif parts[0] == "version" and len(parts) >= 2:
                version = line[len("version "):]
            elif parts[0] == "loaded" and len(parts) == 3:
                loaded[parts[1]] = parts[2]
        return bound, version, loaded

    def engine_folder(self, root, with_qel):
        folder = os.path.join(root, "release")
        os.makedirs(os.path.join(folder, "native"), exist_ok=True)
        shutil.copy(self.args.tallix, folder)
        if with_qel:
            shutil.copy(self.args.qel, os.path.join(folder, "native"))
        return folder

    def same_file(self, reported, expected):
        if self.wine:
            return reported.lower() == windows_path(expected).lower()
        return os.path.realpath(reported) == os.path.realpath(expected)


def ran_markers(root):
    return [os.path.join(d, f) for d, _, files in os.walk(root) for f in files if f.endswith(".ran")]


def check(name, layout, root, engine_dir, cwd, expected_qel):
    bound, version, loaded = layout.run(root, engine_dir, cwd)
    problems = []
    if bound is not True:
        problems.append("_initLibrary did not bind (bound %s)" % bound)
    if not version:
        problems.append("_getLibraryVersion gave nothing through the bound library")
    qel = loaded.get(layout.qel_name)
    if qel is None or not layout.same_file(qel, expected_qel):
        problems.append("session library loaded from %s, expected %s" % (qel, expected_qel))
    markers = ran_markers(root)
    if markers:
        problems.append("planted code ran: " + ", ".join(markers))
    if layout.wine and "avrt.dll" in loaded and not loaded["avrt.dll"].lower().startswith("c:\\windows\\"):
        problems.append("avrt.dll loaded from " + loaded["avrt.dll"])
    print("%-10s %s  (session library %s%s)" % (name, "FAIL" if problems else "ok", qel,
                                               ", avrt.dll " + loaded["avrt.dll"] if "avrt.dll" in loaded else ""))
    for problem in problems:
        print("    " + problem)
    return not problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--scratch", required=True, help="folder for the layouts (emptied first)")
    parser.add_argument("--tallix", required=True, help="the engine file to lay out")
    parser.add_argument("--qel", required=True, help="the session library file to lay out")
    parser.add_argument("--planted", required=True, help="the planted library (planted_library.cpp)")
    parser.add_argument("--wine", help="wine-run.sh of the build tree (Windows)")
    parser.add_argument("--probe", help="tallix_placement_probe.exe (Windows)")
    parser.add_argument("--java", help="java executable (Linux)")
    parser.add_argument("--classpath", help="class path holding SessionLibraryProbe (Linux)")
    args = parser.parse_args()
    if (args.wine is None) == (args.java is None) or (args.wine and not args.probe) or (args.java and not args.classpath):
        parser.error("give --wine with --probe, or --java with --classpath")
    for path in (args.tallix, args.qel, args.planted):
        if not os.path.isfile(path):
            parser.error("no file " + path)

    layout = Layout(args)
    shutil.rmtree(args.scratch, ignore_errors=True)
    ok = True

    root = os.path.join(args.scratch, "beside")
    engine_dir = layout.engine_folder(root, with_qel=True)
    cwd = os.path.join(root, "work")
    layout.plant(os.path.join(cwd, "native"), layout.qel_name)
    if layout.wine:
        layout.plant(cwd, "avrt.dll")
    ok &= check("beside", layout, root, engine_dir, cwd, os.path.join(engine_dir, "native", layout.qel_name))

    root = os.path.join(args.scratch, "empty-cwd")
    engine_dir = layout.engine_folder(root, with_qel=True)
    cwd = os.path.join(root, "work")
    os.makedirs(cwd)
    ok &= check("empty-cwd", layout, root, engine_dir, cwd, os.path.join(engine_dir, "native", layout.qel_name))

    root = os.path.join(args.scratch, "fallback")
    engine_dir = layout.engine_folder(root, with_qel=False)
    cwd = os.path.join(root, "work")
    os.makedirs(os.path.join(cwd, "native"))
    shutil.copy(args.qel, os.path.join(cwd, "native"))
    ok &= check("fallback", layout, root, engine_dir, cwd, os.path.join(cwd, "native", layout.qel_name))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
