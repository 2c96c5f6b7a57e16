#!/usr/bin/env python3
"""Checks of tagport as it ships: what the shared library exports, what an install
lays down (and that a C program builds against it through pkg-config), and the
syntax and meaning of the reader's udev rule."""
import os
import re
import shutil
import subprocess
import sys
import tempfile


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def run(*args, **kwargs):
    return subprocess.run(args, check=True, capture_output=True, text=True, **kwargs).stdout


def export_names(exports_file):
    with open(exports_file) as f:
        return sorted(line.split()[0] for line in f if re.match(r"[A-Za-z]", line))


def check_exports(library, exports_file):
    wanted = export_names(exports_file)
    if len(wanted) != 16:
        fail(f"{exports_file} lists {len(wanted)} names, not 16")
    dynamic = run("nm", "-D", "--defined-only", library).split("\n")
    names = sorted(line.split()[2].split("@")[0] for line in dynamic
                   if len(line.split()) == 3 and line.split()[1] in "TtDdBbRrWwVv")
    if names != wanted:
        fail(f"exported {names}, expected {wanted}")
    soname = re.search(r"SONAME\s+(\S+)", run("objdump", "-p", library))
    if not soname or soname.group(1) != "libtagport.so.1":
        fail(f"SONAME is {soname.group(1) if soname else 'missing'}, expected libtagport.so.1")
    # Nothing may run at load or unload: no static constructors or destructors.
    statics = [line for line in run("nm", library).split("\n")
               if "_GLOBAL__sub_I" in line or "_GLOBAL__sub_D" in line]
    if statics:
        fail("the library has static initialisers: " + ", ".join(statics))


CONSUMER = r"""
#include <tagport.h>
int main(void) {
  uint8_t tag[4];
  int32_t (*read_tag)(uint8_t*) = ReadRFID;
  (void)tag;
  return read_tag == 0 || OpenReader(0) < 0;
}
"""


def check_install(build_dir, compiler):
    prefix = tempfile.mkdtemp(prefix="tagport-install-")
    try:
        # tagport's components only: Update installs to an absolute directory, which
        # --prefix would not move.
        for component in ("libtagport1", "libtagport-dev", "tagport-probe"):
            run("cmake", "--install", build_dir, "--prefix", prefix, "--component", component)
        files = {os.path.relpath(os.path.join(d, f), prefix)
                 for d, _, fs in os.walk(prefix) for f in fs}
        for expected in ("include/tagport.h", "lib/udev/rules.d/60-tagport.rules",
                         "bin/tagport-probe"):
            if expected not in files:
                fail(f"{expected} not installed; got {sorted(files)}")
        libs = [f for f in files if re.search(r"/libtagport\.so(\.1(\.0\.0)?)?$", f)]
        if len(libs) != 3:
            fail(f"expected the library with its two links, got {libs}")
        pcs = [f for f in files if f.endswith("pkgconfig/tagport.pc")]
        if len(pcs) != 1:
            fail(f"expected one tagport.pc, got {pcs}")
        env = dict(os.environ, PKG_CONFIG_PATH=os.path.join(prefix, os.path.dirname(pcs[0])))
        flags = run("pkg-config", "--cflags", "--libs", "tagport", env=env).split()
        source = os.path.join(prefix, "consumer.c")
        with open(source, "w") as f:
            f.write(CONSUMER)
        # Built, not run: running it would look for a real reader.
        run(compiler, "-std=c99", "-Wall", "-Wextra", "-pedantic", "-Werror", source,
            "-o", os.path.join(prefix, "consumer"), *flags)
    finally:
        shutil.rmtree(prefix)


MATCH_KEYS = {"ACTION", "SUBSYSTEM", "SUBSYSTEMS", "KERNEL", "KERNELS", "DRIVER", "DRIVERS",
              "DEVPATH", "ATTR", "ATTRS", "ENV", "TAG", "TAGS", "TEST", "PROGRAM", "RESULT"}
ASSIGN_KEYS = {"MODE", "GROUP", "OWNER", "TAG", "ENV", "SYMLINK", "RUN", "NAME", "OPTIONS",
               "GOTO", "LABEL", "ATTR", "IMPORT"}
TOKEN = re.compile(r'\s*([A-Z]+)(\{[^}]+\})?\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*(,|$)')


def parse_rule_line(line):
    pairs, pos = [], 0
    while pos < len(line):
        m = TOKEN.match(line, pos)
        if not m:
            fail(f"cannot parse at column {pos}: {line!r}")
        key, attr, op, value, _ = m.groups()
        is_match = op in ("==", "!=")
        if (is_match and key not in MATCH_KEYS) or (not is_match and key not in ASSIGN_KEYS):
            fail(f"{key}{attr or ''}{op} is not a valid udev {'match' if is_match else 'assignment'}")
        if key in ("ATTR", "ATTRS", "ENV") and not attr:
            fail(f"{key} needs an attribute name")
        pairs.append((key + (attr or ""), op, value))
        pos = m.end()
    return pairs


def check_udev(rules):
    udevadm = shutil.which("udevadm")
    if udevadm and subprocess.run([udevadm, "verify", "--help"], capture_output=True).returncode == 0:
        run(udevadm, "verify", rules)
    with open(rules) as f:
        lines = [l.strip() for l in f if l.strip() and not l.strip().startswith("#")]
    if len(lines) != 1:
        fail(f"expected one rule, got {len(lines)}")
    rule = {(k, op): v for k, op, v in parse_rule_line(lines[0])}
    # sysfs shows the identifiers as four lowercase hex digits.
    wanted = {("SUBSYSTEM", "=="): "usb", ("ATTR{idVendor}", "=="): "16c0",
              ("ATTR{idProduct}", "=="): "88dc", ("GROUP", "="): "plugdev"}
    for key, value in wanted.items():
        if rule.get(key) != value:
            fail(f"{key[0]}{key[1]} should be {value!r}, is {rule.get(key)!r}")
    mode = int(rule.get(("MODE", "="), "0"), 8)
    if mode & 0o060 != 0o060:
        fail(f"MODE {oct(mode)} does not give the group read and write")


if __name__ == "__main__":
    command, args = sys.argv[1], sys.argv[2:]
    {"exports": check_exports, "install": check_install, "udev": check_udev}[command](*args)
    print("ok")
