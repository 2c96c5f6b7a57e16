#!/usr/bin/env python3
"""The packaged Update, started unattended through /usr/bin/update from another
working directory, reads the System.ini beside its real file under /opt and no
other one.

  check_unattended_run.py ROOT

ROOT is a dpkg-deb -x extraction of the update package. The link is absolute, so
the run happens in its own mount, network and PID namespaces, where the extracted
/opt is mounted at /opt; nothing changes on this machine. The System.ini under /opt
names a loopback port this script listens on; decoys beside the link and in the
working directory name another. The program must knock on the first port only, then
end with the connection-failure status 2 and its message on standard output, with no
display at all.
"""
import os
import socket
import subprocess
import sys
import threading

OPT = "opt/venue-backoffice"
INSIDE = "CHECK_UNATTENDED_RUN_INSIDE"


def fail(message):
    print(f"FAIL: {message}")
    sys.exit(1)


def listener():
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen()
    knocks = []

    def serve():
        while True:
            try:
                connection, _ = server.accept()
            except OSError:
                return
            knocks.append(1)
            connection.close()  # no server here: the login fails at once

    threading.Thread(target=serve, daemon=True).start()
    return server, knocks


def settings(port):
    return f"[ServerIP]\nServerIP1=127.0.0.1,{port}\n[ServerPort]\nServerPort1={port}\n"


def inside(root):
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    subprocess.run(["mount", "-t", "tmpfs", "tmpfs", "/opt"], check=True)
    os.makedirs(f"/{OPT}")
    subprocess.run(["mount", "--bind", os.path.join(root, OPT), f"/{OPT}"], check=True)

    real, real_knocks = listener()
    decoy, decoy_knocks = listener()
    with open(f"/{OPT}/System.ini", "w") as f:
        f.write(settings(real.getsockname()[1]))
    elsewhere = os.path.join(root, "home")
    os.makedirs(elsewhere, exist_ok=True)
    for d in (os.path.join(root, "usr/bin"), elsewhere):
        with open(os.path.join(d, "System.ini"), "w") as f:
            f.write(settings(decoy.getsockname()[1]))

    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY")}
    env["QT_QPA_PLATFORM"] = "xcb"  # a toolkit made by mistake would find no display
    run = subprocess.run([os.path.join(root, "usr/bin/update"), "--unattended"], cwd=elsewhere,
                         env=env, capture_output=True, text=True, timeout=60)
    real.close()
    decoy.close()
    if run.returncode != 2 or run.stdout != "服务器连接失败！\n":
        fail(f"status {run.returncode}, stdout {run.stdout!r}, stderr {run.stderr!r}")
    if not real_knocks:
        fail("Update did not use /opt/venue-backoffice/System.ini")
    if decoy_knocks:
        fail("Update read a System.ini beside the link or in the working directory")


def main():
    root = os.path.abspath(sys.argv[1])
    if os.environ.get(INSIDE) == "1":
        inside(root)
        return
    unshare = ["unshare", "--mount", "--net", "--pid", "--fork", "--kill-child", "--mount-proc"]
    if os.geteuid() != 0:
        unshare.insert(1, "--map-root-user")
    subprocess.run([*unshare, sys.executable, __file__, root],
                   env=dict(os.environ, **{INSIDE: "1"}), check=True)
    print("unattended run through /usr/bin/update: ok")


if __name__ == "__main__":
    main()
