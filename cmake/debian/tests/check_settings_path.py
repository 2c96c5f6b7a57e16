#!/usr/bin/env python3
"""Update finds System.ini beside its real executable file, also when it is started
through a symbolic link from another directory and from yet another working
directory, as /usr/bin/update -> /opt/venue-backoffice/Update does.

  check_settings_path.py SETTINGS_PATH_PROBE
"""
import os
import shutil
import subprocess
import sys
import tempfile

probe = sys.argv[1]
with tempfile.TemporaryDirectory(prefix="settings-path-") as root:
    real_dir = os.path.join(root, "opt", "venue")
    link_dir = os.path.join(root, "usr", "bin")
    elsewhere = os.path.join(root, "home")
    for d in (real_dir, link_dir, elsewhere):
        os.makedirs(d)
    program = os.path.join(real_dir, "Update")
    shutil.copy(probe, program)
    os.symlink(program, os.path.join(link_dir, "update"))
    # A link to the link, relative this time.
    os.symlink("update", os.path.join(link_dir, "update-again"))
    for started in ("update", "update-again"):
        found = subprocess.run([os.path.join(link_dir, started)], cwd=elsewhere, check=True,
                               capture_output=True, text=True,
                               env=dict(os.environ, QT_QPA_PLATFORM="offscreen")).stdout.strip()
        if found != os.path.join(real_dir, "System.ini"):
            print(f"FAIL: started as {started}, looks for {found!r}")
            sys.exit(1)
print("ok")
