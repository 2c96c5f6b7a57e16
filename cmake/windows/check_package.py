#!/usr/bin/env python3
"""The Windows zip as it ships: exactly the files a caller of tagport, a user of
Update and of the core tools need, every binary importing nothing but DLLs every
Windows has (and tagport.dll libusb0.dll), Update.exe a GUI program, and
tagport.dll's exports intact after stripping.

  check_package.py BUILD_DIR OBJDUMP
"""
import os
import re
import subprocess
import sys
import tempfile
import zipfile

EXPECTED = {
    "bin/Update.exe",
    "bin/System.ini.example",
    "bin/tagport.dll",
    "bin/ladder-transcript.exe",
    "include/tagport.h",
    "lib/libtagport.dll.a",
    "lib/tagport.def",
}
# No C++ or GCC runtime, no winpthread: those are linked in statically.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ws2_32.dll", "odbc32.dll", "user32.dll",
               "gdi32.dll", "comctl32.dll", "ole32.dll", "oleaut32.dll"}
EXPORTS = 16


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def main():
    build_dir, objdump = sys.argv[1:3]
    with tempfile.TemporaryDirectory(prefix="windows-package-") as scratch:
        run("cpack", "-G", "ZIP", "-B", scratch, "--config",
            os.path.join(build_dir, "CPackConfig.cmake"))
        zips = [f for f in os.listdir(scratch) if f.endswith(".zip")]
        if len(zips) != 1:
            fail(f"cpack made {zips}")
        with zipfile.ZipFile(os.path.join(scratch, zips[0])) as archive:
            names = [n for n in archive.namelist() if not n.endswith("/")]
            top = {n.split("/", 1)[0] for n in names}
            if len(top) != 1:
                fail(f"the zip has more than one top directory: {sorted(top)}")
            files = {n.split("/", 1)[1] for n in names}
            print(zips[0] + ": " + " ".join(sorted(files)))
            if files != EXPECTED:
                fail(f"the zip holds {sorted(files)}, expected {sorted(EXPECTED)}")
            archive.extractall(scratch)
        root = os.path.join(scratch, top.pop())
        for name in sorted(files):
            if not name.endswith((".dll", ".exe")):
                continue
            path = os.path.join(root, name)
            headers = run(objdump, "-p", path)
            dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", headers)}
            allowed = SYSTEM_DLLS | ({"libusb0.dll"} if name == "bin/tagport.dll" else set())
            print(f"{name} imports {' '.join(sorted(dlls))}")
            if dlls - allowed:
                fail(f"{name} needs {sorted(dlls - allowed)}, which would have to ship too")
        update = run(objdump, "-p", os.path.join(root, "bin/Update.exe"))
        if not re.search(r"^Subsystem\s+00000002\s", update, re.M):
            fail("Update.exe is not a GUI program: it would open a console window")
        exports = run(objdump, "-p", os.path.join(root, "bin/tagport.dll"))
        table = re.search(r"\[Ordinal/Name Pointer\] Table\n(.*?)\n\n", exports, re.S)
        if not table or len(table.group(1).splitlines()) != EXPORTS:
            fail("the stripped tagport.dll lost its export table")
    print("ok")


if __name__ == "__main__":
    main()
