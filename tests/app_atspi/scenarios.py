"""The scenarios of the controller as a user meets it, one a name:

    scenarios.py SCENARIO PROGRAM

run.sh makes the session (and, for the service's scenarios, the private namespaces) first.
Each scenario checks several facts, printing "ok: FACT" for each; the first that fails ends it
with "FAILED: ..." and the program's own output. Exit status 0 when every fact held.
"""

import os
import pathlib
import subprocess
import sys
import traceback

from atspi_app import App, Failure, wait_for

WORK = pathlib.Path(os.environ.get("QRB_APP_WORK", "/tmp"))
SERVICE_FILE = pathlib.Path("/etc/xinetd.d/tftp")


def fact(text):
    print(f"ok: {text}", flush=True)


def launch(program, name):
    env = dict(os.environ)
    return App([program], name, env, WORK / "program.log").find()


# The real TFTP client (tftp-hpa), from a folder of its own.

CLIENT = WORK / "client"


def tftp(command, file, address="127.0.0.1", seconds=2):
    """Runs the real client once: "get" or "put" of `file` (in CLIENT), retransmitting every
    second and giving up after `seconds`; returns what it printed."""
    CLIENT.mkdir(exist_ok=True)
    if command == "get":
        (CLIENT / file).unlink(missing_ok=True)
    script = f"binary\nrexmt 1\ntimeout {seconds}\n{command} {file}\nquit\n"
    done = subprocess.run(["tftp", address], input=script, capture_output=True, text=True,
                          cwd=CLIENT, timeout=seconds + 20)
    return (done.stdout + done.stderr).replace("tftp> ", "").strip()


def fetched(file):
    path = CLIENT / file
    return path.read_text() if path.exists() and path.stat().st_size > 0 else None


def server_args():
    for line in SERVICE_FILE.read_text().splitlines():
        key, _, value = line.partition("=")
        if key.strip() == "server_args":
            return value.strip()
    return None


def served_folder(name, mode=0o755, files=None):
    folder = WORK / name
    folder.mkdir()
    folder.chmod(mode)
    for file, text in (files or {}).items():
        (folder / file).write_text(text)
        (folder / file).chmod(0o644)
    return folder


# Scenarios.


def harness(app):
    """The harness itself, against the stand-in window: finding controls by name and role,
    pressing, typing, reading the status and a list's words, waiting with a deadline."""
    if not app.status().startswith("Stopped"):
        raise Failure(f"the status reads {app.status()!r} at start")
    fact("the status is read from the description of the control named Status")
    app.set_text("Served folder", "/srv/elsewhere")
    fact("a field is found by its name and given a text")
    app.press("Allow uploads")
    wait_for("Allow uploads is checked", lambda: app.checked("Allow uploads"))
    fact("a check box is pressed and read back checked")
    app.press("Start")
    status = app.wait_status("Running")
    if "uploads allowed" not in status:
        raise Failure(f"the status {status!r} misses the uploads")
    fact(f"a button is pressed and the status followed: {status!r}")
    app.press("Stop")
    app.wait_status("Stopped")
    fact("a second button, and the status followed again")
    app.press("Diagnose")
    wait_for("the findings name the folder", lambda: "/srv/elsewhere" in app.words("Findings"))
    fact("a list's words are read")
    try:
        app.control("No such control", seconds=0.5)
    except Failure as expected:
        if "not within" not in str(expected):
            raise
    else:
        raise Failure("a control that does not exist was found")
    fact("a missing control fails after its deadline, saying which")


SCENARIOS = {
    "harness": (harness, "app-atspi-standin"),
}


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in SCENARIOS:
        print(f"usage: scenarios.py {'|'.join(SCENARIOS)} PROGRAM", file=sys.stderr)
        return 2
    scenario, name = SCENARIOS[sys.argv[1]]
    app = None
    try:
        app = launch(sys.argv[2], name)
        fact(f"{name} is on the accessibility bus with a window")
        scenario(app)
    except (Failure, subprocess.TimeoutExpired, OSError) as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        traceback.print_exc(limit=3)
        if app is not None:
            app.quit()
            print("--- the program's output:", file=sys.stderr)
            print((WORK / "program.log").read_text(errors="replace")[-4000:], file=sys.stderr)
        return 1
    status = app.quit()
    print(f"passed: {sys.argv[1]} (the program ended with status {status})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
