#!/usr/bin/env python3
"""The Debian packages as they ship (scripts/package debian makes them):

- each package's files and the control fields that matter to an install;
- lintian finds no error, and every override still applies;
- extracted into a throwaway root (never the machine's own system): /usr/bin/update
  leads to the program beside System.ini.example and the link System.ini into
  /var/lib/venue-backoffice; the probe runs with the packaged library, and a C
  program builds against the installed header and tagport.pc;
- update installed, used by an operator, upgraded, removed and purged with dpkg in
  namespaces of its own over overlays of the system (check_install.sh), against
  the pretend SQL Server TDS_PEER.

  check_debs.py DEB_DIR VERSION C_COMPILER TDS_PEER
"""
import glob
import os
import re
import subprocess
import sys
import tempfile

MULTIARCH = subprocess.run(["gcc", "-print-multiarch"], capture_output=True,
                           text=True).stdout.strip() or "x86_64-linux-gnu"
LIB = f"usr/lib/{MULTIARCH}"
OPT = "opt/venue-backoffice"
STATE = "var/lib/venue-backoffice"

# Every package's files, apart from its copyright and changelog.
FILES = {
    "update": {f"{OPT}/Update", f"{OPT}/System.ini.example", f"{OPT}/System.ini",
               "usr/bin/update"},
    "libtagport1": {f"{LIB}/libtagport.so.1.0.0", f"{LIB}/libtagport.so.1",
                    "usr/lib/udev/rules.d/60-tagport.rules"},
    "libtagport-dev": {"usr/include/tagport.h", f"{LIB}/libtagport.so",
                       f"{LIB}/pkgconfig/tagport.pc"},
    "tagport-probe": {"usr/bin/tagport-probe"},
}
OVERRIDES = {"update": "usr/share/lintian/overrides/update"}


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def run(*args, **kwargs):
    result = subprocess.run(args, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        fail(f"{' '.join(args)} exited {result.returncode}:\n{result.stdout}{result.stderr}")
    return result.stdout


def depends(deb):
    text = run("dpkg-deb", "-f", deb, "Depends")
    return {re.sub(r"\s+", " ", d.strip()) for d in text.split(",") if d.strip()}


def check_contents(debs, version):
    arch = run("dpkg", "--print-architecture").strip()
    for name, deb in debs.items():
        fields = dict(line.split(": ", 1) for line in
                      run("dpkg-deb", "-f", deb, "Package", "Version", "Architecture")
                      .strip().split("\n"))
        if fields != {"Package": name, "Version": version, "Architecture": arch}:
            fail(f"{deb}: control fields {fields}")
        listed = set()
        for line in run("dpkg-deb", "-c", deb).splitlines():
            path = line.split(None, 5)[5].split(" -> ")[0].lstrip("./")
            if not line.startswith("d"):
                listed.add(path)
        wanted = FILES[name] | {f"usr/share/doc/{name}/copyright",
                                f"usr/share/doc/{name}/changelog.gz"}
        if name in OVERRIDES:
            wanted.add(OVERRIDES[name])
        if listed != wanted:
            fail(f"{name}: missing {sorted(wanted - listed)}, unexpected {sorted(listed - wanted)}")

    same = f"libtagport1 (= {version})"
    needs = {
        # Qt Widgets and the ODBC driver manager come from dpkg-shlibdeps; FreeTDS is
        # the driver it picks on Linux; a CJK font for the messages and the dialog.
        "update": [r"libqt6widgets6\b", r"libodbc2\b", r"^tdsodbc$", r"^unixodbc$",
                   r"^fonts-wqy-zenhei$"],
        "libtagport1": [r"^libusb-0\.1-4\b"],
        "libtagport-dev": [re.escape(same)],
        "tagport-probe": [re.escape(same)],
    }
    for name, patterns in needs.items():
        have = depends(debs[name])
        for pattern in patterns:
            if not any(re.search(pattern, d) for d in have):
                fail(f"{name} does not depend on {pattern}: {sorted(have)}")

    with tempfile.TemporaryDirectory() as scratch:
        run("dpkg-deb", "-e", debs["libtagport1"], scratch)
        with open(os.path.join(scratch, "triggers")) as f:
            if "activate-noawait ldconfig" not in f.read():
                fail("libtagport1 does not activate the ldconfig trigger")
        with open(os.path.join(scratch, "shlibs")) as f:
            if not re.search(r"^libtagport 1 libtagport1\b", f.read(), re.M):
                fail("libtagport1's shlibs does not name libtagport.so.1")
        for script in ("postinst", "postrm"):
            with open(os.path.join(scratch, script)) as f:
                if "udevadm control --reload-rules" not in f.read():
                    fail(f"libtagport1's {script} does not reload udev's rules")


def check_lintian(debs):
    result = subprocess.run(["lintian", "--fail-on", "error", "-I", *debs.values()],
                            capture_output=True, text=True)
    report = result.stdout + result.stderr
    if result.returncode != 0:
        fail("lintian:\n" + report)
    stale = [line for line in report.splitlines()
             if re.search(r"\b(unused-override|mismatched-override)\b", line)]
    if stale:
        fail("overrides that no longer apply:\n" + "\n".join(stale))
    print(report.strip() or "lintian: clean")


CONSUMER = r"""
#include <tagport.h>
int main(void) {
  uint8_t version[10];
  int32_t (*get)(uint8_t*) = GetReaderVersion;
  (void)version;
  return get == 0 || OpenReader(0) < 0;
}
"""


def check_installed(debs, compiler):
    with tempfile.TemporaryDirectory(prefix="debian-root-") as root:
        for deb in debs.values():
            run("dpkg-deb", "-x", deb, root)

        # The command on the PATH is a link to the program, which keeps its settings
        # example beside it: where it will look for System.ini.
        link = os.path.join(root, "usr/bin/update")
        target = os.readlink(link)
        if target != f"/{OPT}/Update":
            fail(f"/usr/bin/update points to {target}")
        program = os.path.join(root, target.lstrip("/"))
        if not os.access(program, os.X_OK):
            fail(f"{target} is not an executable file")
        if not os.path.isfile(os.path.join(os.path.dirname(program), "System.ini.example")):
            fail("System.ini.example is not beside the program")
        settings = os.readlink(os.path.join(root, OPT, "System.ini"))
        if settings != f"/{STATE}/System.ini":
            fail(f"/{OPT}/System.ini points to {settings}")

        # The development link leads to the run-time library.
        dev_link = os.path.realpath(os.path.join(root, LIB, "libtagport.so"))
        if dev_link != os.path.join(root, LIB, "libtagport.so.1.0.0"):
            fail(f"libtagport.so resolves to {dev_link}")

        libdir = os.path.join(root, LIB)
        env = dict(os.environ, LD_LIBRARY_PATH=libdir)
        usage = run(os.path.join(root, "usr/bin/tagport-probe"), "--help", env=env)
        if "--check-code" not in usage:
            fail("the packaged probe does not run with the packaged library:\n" + usage)

        env["PKG_CONFIG_PATH"] = os.path.join(libdir, "pkgconfig")
        env.pop("PKG_CONFIG_LIBDIR", None)
        flags = run("pkg-config", "--cflags", "--libs", "tagport", env=env).split()
        includes = [os.path.normpath(f[2:]) for f in flags if f.startswith("-I")]
        if includes != [os.path.join(root, "usr/include")]:
            fail(f"tagport.pc does not point into the root it was unpacked in: {flags}")
        source = os.path.join(root, "consumer.c")
        with open(source, "w") as f:
            f.write(CONSUMER)
        consumer = os.path.join(root, "consumer")
        run(compiler, "-std=c99", "-Wall", "-Wextra", "-pedantic", "-Werror", source,
            "-o", consumer, *flags)
        needed = run("objdump", "-p", consumer)
        if not re.search(r"NEEDED\s+libtagport\.so\.1\b", needed):
            fail("the C program does not link libtagport.so.1")


def main():
    deb_dir, version, compiler, peer = sys.argv[1:5]
    debs = {}
    for deb in glob.glob(os.path.join(deb_dir, "*.deb")):
        debs[run("dpkg-deb", "-f", deb, "Package").strip()] = deb
    if set(debs) != set(FILES):
        fail(f"expected the packages {sorted(FILES)}, found {sorted(debs)} in {deb_dir}")
    check_contents(debs, version)
    check_lintian(debs)
    check_installed(debs, compiler)
    result = subprocess.run([os.path.join(os.path.dirname(__file__), "check_install.sh"),
                             debs["update"], peer])
    if result.returncode != 0:
        fail(f"check_install.sh exited {result.returncode}")
    print("debian packages: ok")


if __name__ == "__main__":
    main()
