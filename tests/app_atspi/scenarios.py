"""The scenarios of the controller as a user meets it, one a name:

    scenarios.py SCENARIO PROGRAM|attach

run.sh makes the session (and, for the service's scenarios, the private namespaces) first.
Each scenario checks several facts, printing "ok: FACT" for each; the first that fails ends it
with "FAILED: ..." and the program's own output. Exit status 0 when every fact held.
"""

import os
import pathlib
import re
import signal
import subprocess
import sys
import traceback

from atspi_app import App, Failure, wait_for

WORK = pathlib.Path(os.environ.get("QRB_APP_WORK", "/tmp"))
SERVICE_FILE = pathlib.Path("/etc/xinetd.d/tftp")


def fact(text):
    print(f"ok: {text}", flush=True)


def launch(program, name):
    """The program started, or with "attach" the one of that name already running."""
    argv = None if program == "attach" else [program]
    return App(argv, name, dict(os.environ), WORK / "program.log").find()


# The real TFTP client (tftp-hpa), from a folder of its own.

CLIENT = WORK / "client"


def tftp(command, file, address="127.0.0.1", seconds=2, netns=None):
    """Runs the real client once (in the network namespace `netns` when given): "get" or "put"
    of `file` (in CLIENT), retransmitting every second and giving up after `seconds`; returns
    what it printed."""
    CLIENT.mkdir(exist_ok=True)
    if command == "get":
        (CLIENT / file).unlink(missing_ok=True)
    script = f"binary\nrexmt 1\ntimeout {seconds}\n{command} {file}\nquit\n"
    where = ["ip", "netns", "exec", netns] if netns else []
    done = subprocess.run(where + ["tftp", address], input=script, capture_output=True, text=True,
                          cwd=CLIENT, timeout=seconds + 20)
    return (done.stdout + done.stderr).replace("tftp> ", "").strip()


def fetched(file):
    path = CLIENT / file
    return path.read_text() if path.exists() and path.stat().st_size > 0 else None


def get_until(file, text=None, seconds=20, address="127.0.0.1", netns=None):
    """Asks the server at `address` for `file` with the real client until it arrives (holding
    `text` when given); returns what arrived."""

    def arrived():
        tftp("get", file, address, netns=netns)
        got = fetched(file)
        return got if got and (text is None or got == text) else None

    return wait_for(f"the real client gets {file}", arrived, seconds)


def put_until(file, folder, seconds=20):
    """Puts CLIENT/file with the real client until it lies in `folder` whole."""
    sent = (CLIENT / file).read_text()

    def arrived():
        target = folder / file
        if target.exists() and target.read_text() == sent:
            return True
        tftp("put", file)
        return False

    wait_for(f"{file} put into {folder}", arrived, seconds)


def service_field(key):
    """The value of `key` in the service file, as xinetd reads it ("" when absent)."""
    for line in SERVICE_FILE.read_text().splitlines():
        name, _, value = line.partition("=")
        if name.strip() == key:
            return value.strip()
    return ""


def server_args():
    return service_field("server_args")


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


def processes(name):
    """The pids of the live processes named `name` (in this pid namespace)."""
    found = []
    for stat in pathlib.Path("/proc").glob("[0-9]*/stat"):
        try:
            fields = stat.read_text()
        except OSError:
            continue
        command = fields[fields.index("(") + 1:fields.rindex(")")]
        state = fields[fields.rindex(")") + 2]
        if command == name and state not in "ZX":
            found.append(int(stat.parent.name))
    return found


def guide_dismissed(app):
    """The first launch shows the guide beside the window; "Got it" closes it."""
    guide = app.control("Getting started", ["dialog"])
    words = app.text("Guide", ["label"])
    if "Press Start" not in words:
        raise Failure(f"the guide reads {words!r}")
    app.press("Got it")
    wait_for("the guide closes", lambda: not app.controls("Getting started", ["dialog"]))
    return guide


def xinetd_path(app):
    """The service through xinetd as a user drives it: a folder served, a file fetched by the
    real client, uploads turned on and a file put, the service stopped from outside and again
    from the window; the status follows each step."""
    guide_dismissed(app)
    fact("the first launch shows the guide, which Got it closes")
    status = app.wait_status("Stopped")
    fact(f"before anything is started the status reads {status!r}")
    text = "served by the controller\n"
    folder = served_folder("served", 0o777, {"hello.txt": text})
    app.set_text("Served folder", str(folder))
    # An idle server exits after a second, not after 15 minutes: one that xinetd left behind
    # when stopped from outside is gone before the next step.
    app.set_value("Idle server exits after", 1)
    app.press("Start")
    status = app.wait_status("Running")
    fact(f"Start: the status reads {status!r}")
    args = server_args().split()
    if args[-2:] != ["-s", str(folder)] or "-v" not in args or args[args.index("-t") + 1] != "1" \
            or "-c" in args:
        raise Failure(f"the service file's server_args is {server_args()!r}")
    fact(f"the service file serves the folder chosen, transfers logged, idle servers exit after"
         f" a second, no uploads: {server_args()!r}")
    get_until("hello.txt", text)
    fact("the real tftp client fetched the file from the folder chosen")
    (CLIENT / "refused.txt").write_text("no uploads yet\n")
    said = tftp("put", "refused.txt")
    if (folder / "refused.txt").exists():
        raise Failure(f"a put arrived with uploads off: {said!r}")
    fact(f"with uploads off the server refuses a put: {said!r}")

    app.press("Allow uploads")
    wait_for("Allow uploads is checked", lambda: app.checked("Allow uploads"))
    asked = app.wait_text("Message", ["Restart"])
    fact(f"uploads turned on while serving: {asked!r}")
    app.press("Restart")
    wait_for("the service file allows uploads", lambda: "-c" in server_args().split())
    status = app.wait_status("Running")
    fact(f"Restart: {status!r}; the service file reads {server_args()!r}")
    (CLIENT / "upload.txt").write_text("put by the client\n")
    put_until("upload.txt", folder)
    fact("the real client put a new file into the served folder")
    wanted = [["hello.txt", "read", "sent"], ["upload.txt", "write", "received"]]
    listed = wait_for("Transfers lists the get and the put", lambda: (lambda rows: rows if all(
        row in rows for row in wanted) else None)([row[2:5] for row in app.rows("Transfers")]), 10)
    fact(f"Transfers lists the get and the put from the system log: {listed}")

    done = subprocess.run(["/usr/sbin/xinetdtool", "--stop"], capture_output=True, text=True,
                          timeout=30)
    if done.returncode != 0:
        raise Failure(f"xinetdtool --stop failed: {done.stderr}")
    status = app.wait_status("Stopped", seconds=5)
    fact(f"stopped from outside, the status follows within seconds: {status!r}")
    wait_for("the server xinetd left ends after its idle second",
             lambda: not processes("in.tftpd"), 10)
    status = wait_for("the status forgets the server that ended", lambda: (
        lambda s: s if s.startswith("Stopped") and "in.tftpd" not in s else None)(app.status()),
        5, seen=app.status)
    fact(f"the server xinetd left ended; the status follows within seconds: {status!r}")
    app.press("Start")
    status = app.wait_status("Running")
    get_until("hello.txt", text)
    fact(f"Start again: {status!r}, and the file is fetched")

    app.press("Stop")
    status = app.wait_status("Stopped")
    wait_for("the status settles on 'Stopped'", lambda: app.status() == "Stopped", 10)
    fact(f"Stop: the status reads {status!r}, then 'Stopped'")
    said = tftp("get", "hello.txt")
    if fetched("hello.txt") is not None or "timed out" not in said.lower():
        raise Failure(f"after Stop the client said {said!r}")
    fact(f"after Stop the real client times out: {said!r}")
    left = processes("xinetd") + processes("in.tftpd")
    if left:
        raise Failure(f"after Stop these still run: {left}")
    if service_field("disable") != "yes" or "-c" not in server_args().split():
        raise Failure(f"after Stop the service file reads disable = {service_field('disable')},"
                      f" server_args = {server_args()}")
    fact("after Stop neither xinetd nor in.tftpd runs; the service is disabled, its options kept")
    status = app.quit_from_menu()
    if status != 0:
        raise Failure(f"File > Quit ended the program with status {status}")
    fact("File > Quit ends the program with status 0")


def unit_state(*query):
    """What systemctl says of the distribution's unit: ("is-active",) gives "inactive"..."""
    done = subprocess.run(["systemctl", *query, "tftpd-hpa.service"], capture_output=True,
                          text=True, timeout=30)
    return done.stdout.strip()


def journal_requests():
    """in.tftpd's request lines in the system's journal, as journalctl reads them."""
    done = subprocess.run(["journalctl", "-q", "-o", "cat", "SYSLOG_IDENTIFIER=in.tftpd"],
                          capture_output=True, text=True, timeout=30)
    return [line for line in done.stdout.splitlines() if line.startswith(("RRQ", "WRQ"))]


def systemd_path(app):
    """On a machine booted with systemd where the distribution's tftpd-hpa serves port 69: the
    window names that server and offers to take over; pressed, the unit is stopped and kept off
    at boot. Then the same as through xinetd: a folder served, a file fetched and put by the
    real client, each transfer listed from the journal, Stop, and the client times out."""
    guide_dismissed(app)
    fact("the first launch shows the guide, which Got it closes")
    if unit_state("is-active") != "active":
        raise Failure(f"tftpd-hpa.service is {unit_state('is-active')!r} before the take-over")
    status = wait_for("the status names the distribution's server",
                      lambda: (lambda t: t if t.startswith("Stopped") and "tftpd-hpa.service" in t
                               else None)(app.status()))
    wait_for("Take over is shown", lambda: app.shown("Take over"))
    holder = processes("in.tftpd")
    others = app.wait_text("Other servers", ["in.tftpd", f"pid {holder[0] if holder else '?'}",
                                             "tftpd-hpa.service"])
    fact(f"with tftpd-hpa on port 69 the status reads {status!r}, Other servers {others!r},"
         f" and Take over is shown")
    source = app.text("Transfer log source")
    if "journal" not in source:
        raise Failure(f"the transfers are read from {source!r}, not from the journal")
    fact(f"the transfers are read {source!r}")

    app.press("Take over")
    wait_for("tftpd-hpa.service stops", lambda: unit_state("is-active") == "inactive", 30)
    wait_for("Take over is gone", lambda: not app.shown("Take over"), 10)
    wait_for("port 69 is free", lambda: not listening(), 10)
    kept_off = unit_state("is-enabled")
    if kept_off not in ("masked", "disabled"):
        raise Failure(f"after the take-over tftpd-hpa.service is {kept_off!r} at boot")
    fact(f"Take over: tftpd-hpa.service inactive and {kept_off} at boot, port 69 free,"
         f" the offer gone")

    text = "served on a systemd machine\n"
    folder = served_folder("served", 0o777, {"hello.txt": text})
    app.set_text("Served folder", str(folder))
    app.press("Start")
    status = app.wait_status("Running")
    args = server_args().split()
    if args[-2:] != ["-s", str(folder)] or "-v" not in args:
        raise Failure(f"the service file's server_args is {server_args()!r}")
    # Debian starts xinetd at boot (-stayalive): Start has it reread its files, no second one.
    if len(processes("xinetd")) != 1:
        raise Failure(f"xinetd runs as {processes('xinetd')} after Start")
    fact(f"Start: the status reads {status!r}; server_args {server_args()!r}; one xinetd")
    get_until("hello.txt", text)
    fact("the real tftp client fetched the file from the folder chosen")

    app.press("Allow uploads")
    wait_for("Allow uploads is checked", lambda: app.checked("Allow uploads"))
    app.press("Restart")
    wait_for("the service file allows uploads", lambda: "-c" in server_args().split())
    app.wait_status("Running")
    (CLIENT / "upload.txt").write_text("put on a systemd machine\n")
    put_until("upload.txt", folder)
    fact("uploads on and Restart: the real client put a new file into the served folder")
    wanted = [["hello.txt", "read", "sent"], ["upload.txt", "write", "received"]]
    listed = wait_for("Transfers lists the get and the put", lambda: (lambda rows: rows if all(
        row in rows for row in wanted) else None)([row[2:5] for row in app.rows("Transfers")]), 10)
    logged = journal_requests()
    # xinetd's socket takes both families: an IPv4 client may be logged as ::ffff:127.0.0.1.
    for request in (r"RRQ from (::ffff:)?127\.0\.0\.1 filename hello\.txt",
                    r"WRQ from (::ffff:)?127\.0\.0\.1 filename upload\.txt"):
        if not any(re.match(request, line) for line in logged):
            raise Failure(f"journalctl shows no {request!r} of in.tftpd, only {logged}")
    fact(f"Transfers lists the get and the put {listed}, which journalctl shows too")

    app.press("Stop")
    app.wait_status("Stopped")
    wait_for("the status settles on 'Stopped'", lambda: app.status() == "Stopped", 5)
    said = tftp("get", "hello.txt")
    if fetched("hello.txt") is not None or "timed out" not in said.lower():
        raise Failure(f"after Stop the client said {said!r}")
    fact(f"Stop: the status reads 'Stopped' and the real client times out: {said!r}")
    if processes("in.tftpd") or listening() or service_field("disable") != "yes" \
            or unit_state("is-active") != "inactive":
        raise Failure(f"after Stop: in.tftpd {processes('in.tftpd')}, port 69 {listening()},"
                      f" disable = {service_field('disable')},"
                      f" tftpd-hpa.service {unit_state('is-active')}")
    fact("after Stop no in.tftpd runs, nothing holds port 69, the service is disabled and"
         " tftpd-hpa.service stays off")
    launchd_job(app)


JOB_DEFINITION = "/etc/qrb-tftp-controller/tftp.plist"


def launchd_job(app):
    """The package's job definition loaded through launchdtool: systemd holds port 69 for it, and
    the window names the job and offers its own stop, which unloads it."""
    if not pathlib.Path("/usr/sbin/launchdtool").exists():
        fact("no launchdtool in this system: the launchd job is not tried")
        return
    done = subprocess.run(["/usr/sbin/launchdtool", "load", JOB_DEFINITION], capture_output=True,
                          text=True, timeout=60)
    if done.returncode != 0:
        raise Failure(f"launchdtool load {JOB_DEFINITION}: {done.stdout}{done.stderr}")
    wait_for("the job's socket holds port 69", listening, 10)
    status = wait_for("the status names the job", lambda: (lambda t: t if t.startswith("Stopped")
                      and f"launchd job org.qrb.tftp ({JOB_DEFINITION})" in t else None)(
                          app.status()))
    wait_for("Stop job is shown", lambda: app.shown("Stop job"))
    others = app.wait_text("Other servers", ["launchd job org.qrb.tftp", JOB_DEFINITION])
    fact(f"with the job loaded the status reads {status!r}, Other servers {others!r},"
         f" and Stop job is shown")
    app.press("Stop job")
    wait_for("port 69 is free", lambda: not listening(), 30)
    wait_for("Stop job is gone", lambda: not app.shown("Stop job"), 10)
    left = sorted(p.name for folder in ("/run/systemd/system", "/etc/systemd/system")
                  for p in pathlib.Path(folder).glob("org.qrb.tftp*"))
    if left:
        raise Failure(f"after Stop job these units are left: {left}")
    status = wait_for("the status settles on 'Stopped'",
                      lambda: app.status() if app.status() == "Stopped" else None, 5)
    fact(f"Stop job: the job's units are gone, port 69 is free, the status reads {status!r}")


def findings(app, expected, seconds=60):
    """Presses Diagnose; once a finding holds every word of `expected`, returns the findings,
    one line each."""
    app.press("Diagnose")

    def found():
        lines = app.words("Findings").splitlines()
        return lines if any(all(w in line for w in expected) for line in lines) else None

    return wait_for(f"a finding naming {expected}", found, seconds)


def diagnose_folder(app):
    """A served folder the server's user cannot enter (in.tftpd enters it as root, then serves
    as nobody): the folder check and the diagnosis name it; the one-click fix (the folder is
    the user's own) mends it."""
    folder = served_folder("private", 0o700, {"hello.txt": "unreachable\n"})
    app.set_text("Served folder", str(folder))
    said = app.wait_text("Folder check", [str(folder), "nobody"])
    fact(f"the folder check: {said!r}")
    app.press("Start")
    app.wait_status("Running")
    said = tftp("get", "hello.txt")
    if fetched("hello.txt") is not None or "Permission denied" not in said:
        raise Failure(f"the client fetched a file the server should not reach: {said!r}")
    fact(f"the service runs, and indeed the real client gets nothing: {said!r}")
    lines = [line for line in findings(app, [str(folder), "nobody"]) if str(folder) in line]
    fact(f"Diagnose names the folder at fault: {lines!r}")
    app.press("Fix permissions")
    said = app.wait_text("Folder check", ["can read"])
    get_until("hello.txt", "unreachable\n")
    fact(f"Fix permissions: {said!r}, and the client fetches the file")
    app.press("Stop")
    app.wait_status("Stopped")


def listening(port=69):
    """The local addresses with a UDP socket bound to `port`."""
    out = subprocess.run(["ss", "-Hlun", f"sport = :{port}"], capture_output=True,
                         text=True).stdout
    return [line.split()[3] for line in out.splitlines() if line.strip()]


def another_server():
    """Before the program starts: a second in.tftpd of its own (-L) holds port 69."""
    other = subprocess.Popen(["/usr/sbin/in.tftpd", "-L", "-s", str(served_folder("other"))],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for("the other server holds port 69", listening)

    def end():
        other.terminate()
        other.wait()

    return end


def diagnose_port(app):
    """Another server holds port 69 before the service is started: the status and the
    diagnosis name it, with its pid."""
    pid = str(processes("in.tftpd")[0])
    status = app.wait_status("Stopped")
    if "in.tftpd" not in status or pid not in status:
        raise Failure(f"the status does not name in.tftpd {pid}: {status!r}")
    fact(f"with another server on port 69 the status reads {status!r}")
    lines = [line for line in findings(app, ["in.tftpd", pid]) if "in.tftpd" in line]
    fact(f"Diagnose names the other holder of port 69: {lines!r}")


def cable_unplugged():
    """Before the program starts: an interface, qrbcable0, up with an address but no carrier
    (its peer, the other end of a veth pair, is down)."""
    for argv in (["ip", "link", "add", "qrbcable0", "type", "veth", "peer", "name", "qrbpeer0"],
                 ["ip", "address", "add", "10.69.0.1/24", "dev", "qrbcable0"],
                 ["ip", "link", "set", "qrbcable0", "up"]):
        subprocess.run(argv, check=True)
    wait_for("qrbcable0 is up without carrier", lambda: "NO-CARRIER" in subprocess.run(
        ["ip", "link", "show", "qrbcable0"], capture_output=True, text=True).stdout)
    return None


def diagnose_carrier(app):
    """The service listens on an interface without carrier: the diagnosis names the
    interface."""
    interfaces = app.words("Interfaces")
    if "qrbcable0" not in interfaces or "10.69.0.1" not in interfaces:
        raise Failure(f"Interfaces does not show qrbcable0 with its address: {interfaces!r}")
    fact("Interfaces shows qrbcable0 and its address")
    app.choose("Listen on", "10.69.0.1")
    fact("Listen on: 10.69.0.1 chosen from the keyboard")
    lines = [line for line in findings(app, ["qrbcable0"]) if "qrbcable0" in line]
    fact(f"Diagnose names the interface without carrier: {lines!r}")


def diagnosed(app, seconds=60):
    """Presses Diagnose and waits until the diagnosis ends; returns its summary."""
    app.press("Diagnose")

    def summary():
        said = app.text("Diagnosis", ["label"])
        return said if said and not said.startswith(("Checking", "Press Diagnose")) else None

    return wait_for("the diagnosis ends", summary, seconds)


def a_network_card():
    """Before the program starts: eth0, an interface with carrier and an address, cabled to a
    device (a network namespace of its own, "device", at 192.168.1.20)."""
    for argv in (["ip", "netns", "add", "device"],
                 ["ip", "link", "add", "eth0", "address", "52:54:00:12:34:56", "type", "veth",
                  "peer", "name", "eth0", "netns", "device"],
                 ["ip", "address", "add", "192.168.1.5/24", "dev", "eth0"],
                 ["ip", "link", "set", "eth0", "up"],
                 ["ip", "-n", "device", "address", "add", "192.168.1.20/24", "dev", "eth0"],
                 ["ip", "-n", "device", "link", "set", "eth0", "up"]):
        subprocess.run(argv, check=True)
    return None


def pictures(app):
    """The three pictures of the README, of the real window: stopped; serving /srv/tftp with
    transfers listed; after a diagnosis. Written to the folder $QRB_PICTURES."""
    out = pathlib.Path(os.environ["QRB_PICTURES"])
    # /srv/tftp of this mount namespace alone, as a fresh install serves it.
    subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=0755", "pictures", "/srv"], check=True)
    folder = pathlib.Path("/srv/tftp")
    folder.mkdir(mode=0o755)
    for file, text in {"router-firmware.bin": "firmware\n" * 500, "pxelinux.0": "boot\n"}.items():
        (folder / file).write_text(text)
        (folder / file).chmod(0o644)
    guide_dismissed(app)
    app.wait_status("Stopped")
    app.picture(out / "controller-stopped.png")
    fact("controller-stopped.png")
    app.set_text("Served folder", str(folder))
    app.press("Start")
    app.wait_status("Running")
    get_until("pxelinux.0", address="192.168.1.5", netns="device")
    get_until("router-firmware.bin", address="192.168.1.5", netns="device")
    wait_for("Transfers lists both", lambda: len(app.rows("Transfers")) == 2)
    app.picture(out / "controller-serving.png")
    fact("controller-serving.png")
    fact(f"the diagnosis: {diagnosed(app)!r}")
    app.picture(out / "controller-diagnosis.png")
    fact("controller-diagnosis.png")
    app.press("Stop")
    app.wait_status("Stopped")


def polkit_user(app):
    """An ordinary user's Start, folder change and Stop, each through the back end with rights
    from polkit (run by polkit_user.sh, which counts the password prompts)."""
    served, other = pathlib.Path(os.environ["QRB_SERVED"]), pathlib.Path(os.environ["QRB_OTHER"])
    uid = os.stat(f"/proc/{app.root.get_process_id()}").st_uid
    if uid == 0 or uid != os.getuid():
        raise Failure(f"the program runs as user {uid}, not as the ordinary user {os.getuid()}")
    fact(f"the program runs as the ordinary user {uid}, as this driver does")
    guide_dismissed(app)
    app.set_text("Served folder", str(served))
    app.set_value("Idle server exits after", 1)
    app.press("Start")
    status = app.wait_status("Running", seconds=30)
    get_until("hello.txt", "served from one\n")
    if server_args().split()[-2:] != ["-s", str(served)] or service_field("disable") != "no":
        raise Failure(f"after Start the service file reads disable = {service_field('disable')},"
                      f" server_args = {server_args()}")
    fact(f"Start as an ordinary user: {status!r}; the file is fetched")
    app.set_text("Served folder", str(other))
    app.wait_text("Message", ["Restart"])
    app.press("Restart")
    get_until("hello.txt", "served from two\n", seconds=30)
    if server_args().split()[-2:] != ["-s", str(other)]:
        raise Failure(f"after Restart the service file's server_args is {server_args()!r}")
    fact(f"the folder changed and Restart pressed: {app.status()!r}; the other folder is served")
    app.press("Stop")
    app.wait_status("Stopped", seconds=30)
    wait_for("the status settles on 'Stopped'", lambda: app.status() == "Stopped", 10)
    said = tftp("get", "hello.txt")
    if fetched("hello.txt") is not None or "timed out" not in said.lower():
        raise Failure(f"after Stop the client said {said!r}")
    left = processes("xinetd") + processes("in.tftpd")
    if left or service_field("disable") != "yes":
        raise Failure(f"after Stop {left} still run; disable = {service_field('disable')}")
    fact(f"Stop: the status reads 'Stopped', the service is disabled, neither xinetd nor"
         f" in.tftpd runs; the client: {said!r}")


def tree(app):
    """Prints the program's accessible tree (for whoever writes a scenario)."""
    print(app.tree())


# name: (scenario, the program's name on the bus, what is planted before it starts).
SCENARIOS = {
    "tree": (tree, "tftp-controller", None),
    "harness": (harness, "app-atspi-standin", None),
    "xinetd": (xinetd_path, "tftp-controller", None),
    "systemd": (systemd_path, "tftp-controller", None),
    "diagnose-folder": (diagnose_folder, "tftp-controller", None),
    "diagnose-port": (diagnose_port, "tftp-controller", another_server),
    "diagnose-carrier": (diagnose_carrier, "tftp-controller", cable_unplugged),
    "pictures": (pictures, "tftp-controller", a_network_card),
    "polkit-user": (polkit_user, "tftp-controller", None),
}


def ended(signal_number, frame):
    """SIGTERM (the run's time limit) ends the scenario as a failure, the program with it."""
    raise Failure("the run's time limit was reached")


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in SCENARIOS:
        print(f"usage: scenarios.py {'|'.join(SCENARIOS)} PROGRAM|attach", file=sys.stderr)
        return 2
    signal.signal(signal.SIGTERM, ended)
    scenario, name, plant = SCENARIOS[sys.argv[1]]
    app = None
    undo = None
    try:
        undo = plant() if plant else None
        app = launch(sys.argv[2], name)
        fact(f"{name} is on the accessibility bus with a window")
        scenario(app)
        status = app.quit()
        print(f"passed: {sys.argv[1]}" + (f" (the program ended with status {status})"
                                          if status is not None else ""))
        return 0
    except (Failure, subprocess.SubprocessError, OSError) as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        if not isinstance(failure, Failure):
            traceback.print_exc(limit=3)
        if app is not None and app.log is not None:
            app.quit()
            print("--- the program's output:", file=sys.stderr)
            print((WORK / "program.log").read_text(errors="replace")[-4000:], file=sys.stderr)
        return 1
    finally:
        if app is not None:
            app.quit()
        if undo:
            undo()


if __name__ == "__main__":
    sys.exit(main())
