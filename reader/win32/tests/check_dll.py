#!/usr/bin/env python3
"""Checks of tagport.dll as it ships, from its PE headers and code (mingw-w64 objdump):
the export table, the return instruction of every export, the DLLs it imports, and an
install tree from which a C program builds. Usage:

  check_dll.py exports  OBJDUMP DLL tagport.exports
  check_dll.py returns  OBJDUMP DLL tagport.exports
  check_dll.py imports  OBJDUMP DLL libusb0.def
  check_dll.py install  BUILD_DIR C_COMPILER OBJDUMP
"""
import os
import re
import subprocess
import sys
import tempfile

# What Windows itself provides: the kernel and the C runtime every mingw-w64 program
# uses. Anything else (libstdc++-6.dll, libgcc_s_dw2-1.dll, libwinpthread-1.dll) would
# have to ship with tagport.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll"}


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def run(*args, **kwargs):
    return subprocess.run(args, check=True, capture_output=True, text=True, **kwargs).stdout


def wanted_exports(exports_file):
    """Name -> argument bytes, from tagport.exports."""
    with open(exports_file) as f:
        rows = [line.split() for line in f if re.match(r"[A-Za-z]", line)]
    return {name: int(size) for name, size in rows}


def export_table(objdump, dll):
    text = run(objdump, "-p", dll)
    table = re.search(r"\[Ordinal/Name Pointer\] Table\n(.*?)\n\n", text, re.S)
    if not table:
        fail("no export name table in " + dll)
    names = re.findall(r"^\s*\[\s*\d+\]\s+(\S+)$", table.group(1), re.M)
    print("exports: " + " ".join(names))
    return names


def check_exports(objdump, dll, exports_file):
    wanted = wanted_exports(exports_file)
    if len(wanted) != 16:
        fail(f"{exports_file} lists {len(wanted)} names, not 16")
    names = export_table(objdump, dll)
    decorated = [n for n in names if "@" in n or n.startswith("_")]
    if decorated:
        fail("decorated names exported: " + ", ".join(decorated))
    if sorted(names) != sorted(wanted):
        fail(f"exported {sorted(names)}, expected {sorted(wanted)}")


def returns_of(bodies, symbol, seen):
    """The return instructions that end `symbol`, following tail calls (a `jmp` to
    the start of another function, whose returns then end this one)."""
    seen.add(symbol)
    rets = []
    for line in bodies[symbol].splitlines():
        instruction = line.split(":", 1)[-1].split()
        if instruction[:1] == ["ret"]:
            rets.append(" ".join(instruction))
        target = re.search(r"\bjmp\s+[0-9a-f]+ <([^+>]+)>$", line)
        if target and target.group(1) in bodies and target.group(1) not in seen:
            rets += returns_of(bodies, target.group(1), seen)
    return rets


def check_returns(objdump, dll, exports_file):
    """Every way out of every export pops the argument bytes: `ret $0x4`, or a plain
    `ret` for CloseReader."""
    wanted = wanted_exports(exports_file)
    code = run(objdump, "-d", "--no-show-raw-insn", dll)
    blocks = re.split(r"^[0-9a-f]+ <(.+?)>:\n", code, flags=re.M)
    bodies = dict(zip(blocks[1::2], blocks[2::2]))
    for name, size in sorted(wanted.items()):
        symbol = f"_{name}@{size}"
        if symbol not in bodies:
            fail(f"no code for {symbol} in {dll}")
        rets = returns_of(bodies, symbol, set())
        expected = f"ret ${size:#x}" if size else "ret"
        print(f"{name:16} {', '.join(rets) or 'no ret'}")
        if not rets or any(r != expected for r in rets):
            fail(f"{name} returns with {rets}, expected {expected}")


def imports(objdump, binary):
    """DLL name (lower case) -> imported names."""
    text = run(objdump, "-p", binary)
    found = {}
    for block in re.split(r"^\s*DLL Name: ", text, flags=re.M)[1:]:
        dll, rest = block.split("\n", 1)
        entries = rest.split("\n\n", 1)[0]
        found[dll.strip().lower()] = re.findall(r"^\s*[0-9a-f]+\s+\d+\s+(\S+)$", entries, re.M)
    return found


def check_imports(objdump, dll, libusb_def):
    with open(libusb_def) as f:
        declared = set(re.findall(r"^\s+(usb_\w+)\s*$", f.read(), re.M))
    found = imports(objdump, dll)
    for name, functions in sorted(found.items()):
        print(f"imports {name}: {' '.join(functions)}")
    others = set(found) - SYSTEM_DLLS - {"libusb0.dll"}
    if others:
        fail("imports DLLs that are neither system DLLs nor libusb0.dll: " + ", ".join(sorted(others)))
    if "libusb0.dll" not in found:
        fail("does not import libusb0.dll")
    unknown = set(found["libusb0.dll"]) - declared
    if unknown:
        fail("imports from libusb0.dll what libusb0.def does not list: " + ", ".join(sorted(unknown)))


CONSUMER = r"""
#include <tagport.h>
int main(void) {
  uint8_t tag[4];
  int32_t (TAGPORT_CALL *read_tag)(uint8_t*) = ReadRFID;
  (void)tag;
  CloseReader();
  return read_tag == 0 || OpenReader(0) < 0;
}
"""


def check_install(build_dir, compiler, objdump):
    """The install tree holds the DLL, header, import library and .def, and a C
    program builds against it and imports the undecorated names."""
    with tempfile.TemporaryDirectory(prefix="tagport-install-") as prefix:
        run("cmake", "--install", build_dir, "--prefix", prefix)
        for path in ("bin/tagport.dll", "include/tagport.h", "lib/libtagport.dll.a",
                     "lib/tagport.def"):
            if not os.path.isfile(os.path.join(prefix, path)):
                fail(f"the install tree has no {path}")
        source = os.path.join(prefix, "consumer.c")
        program = os.path.join(prefix, "consumer.exe")
        with open(source, "w") as f:
            f.write(CONSUMER)
        run(compiler, "-std=c99", "-Wall", "-Werror", "-I", os.path.join(prefix, "include"),
            source, "-o", program, "-L", os.path.join(prefix, "lib"), "-ltagport")
        imported = imports(objdump, program).get("tagport.dll", [])
        if sorted(imported) != ["CloseReader", "OpenReader", "ReadRFID"]:
            fail(f"the C program imports {imported} from tagport.dll")


def main():
    if len(sys.argv) < 2:
        fail(__doc__)
    command, args = sys.argv[1], sys.argv[2:]
    checks = {"exports": check_exports, "returns": check_returns, "imports": check_imports,
              "install": check_install}
    if command not in checks:
        fail(f"unknown check {command}")
    checks[command](*args)
    print("ok")


if __name__ == "__main__":
    main()
