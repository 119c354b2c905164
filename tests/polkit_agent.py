#!/usr/bin/python3
"""Runs a program as a user with polkit's text authentication agent answering for it.

    polkit_agent.py USER PASSWORD TRANSCRIPT OUT ERR PROGRAM [ARG...]

Run as root. On a new terminal (a pty), a process of the user's first starts pkttyagent registered
for its own pid and waits until polkit has it, then becomes PROGRAM (same pid) with its
standard output and error in OUT and ERR. Every "Password:" the agent shows on the terminal is
answered with PASSWORD, as a person at a desktop would answer the dialog; what the terminal
showed lands in TRANSCRIPT. The exit status is PROGRAM's (125 when it could not be run).
"""
import os
import pty
import pwd
import select
import signal
import subprocess
import sys
import termios
import time


def child(user, out, err, argv):
    """The terminal's session leader: runs the agent in its process group (the terminal's
    foreground, so that it may read the password) and the program in a group of its own, so
    that what the program leaves running gets no hang-up when the terminal goes away."""
    entry = pwd.getpwnam(user)
    out_fd = os.open(out, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    err_fd = os.open(err, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    os.setgroups([])
    os.setgid(entry.pw_gid)
    os.setuid(entry.pw_uid)
    leader = os.getpid()
    program = os.fork()
    if program == 0:
        os.setpgid(0, 0)
        ready_read, ready_write = os.pipe()
        subprocess.Popen(["/usr/bin/pkttyagent", "--process", str(os.getpid()),
                          "--notify-fd", str(ready_write)],
                         pass_fds=[ready_write], process_group=leader)
        os.close(ready_write)
        while os.read(ready_read, 64):  # closed once polkit has the agent
            pass
        os.close(ready_read)
        null = os.open("/dev/null", os.O_RDONLY)
        os.dup2(null, 0)
        os.dup2(out_fd, 1)
        os.dup2(err_fd, 2)
        os.execv(argv[0], argv)
    os._exit(os.waitstatus_to_exitcode(os.waitpid(program, 0)[1]) & 0xFF)


def answer(master, password):
    """Types the password once the agent reads it: it turns echo off first, discarding what
    was typed before, so typing ahead could be lost."""
    deadline = time.monotonic() + 10
    while termios.tcgetattr(master)[3] & termios.ECHO and time.monotonic() < deadline:
        time.sleep(0.01)
    os.write(master, password.encode() + b"\n")


def main():
    user, password, transcript, out, err = sys.argv[1:6]
    argv = sys.argv[6:]
    pid, master = pty.fork()
    if pid == 0:
        try:
            child(user, out, err, argv)
        finally:
            os._exit(125)
    seen = b""
    answered = 0
    status = None
    # The program runs at most this long (seconds; QRB_AGENT_SECONDS, 50 unless set).
    deadline = time.monotonic() + float(os.environ.get("QRB_AGENT_SECONDS", "50"))
    while time.monotonic() < deadline:
        if status is None:
            done, wait_status = os.waitpid(pid, os.WNOHANG)
            if done:
                status = os.waitstatus_to_exitcode(wait_status)
                # The agent, in the leader's group, may outlive the program.
                try:
                    os.killpg(pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
        ready, _, _ = select.select([master], [], [], 0.05)
        if ready:
            try:
                data = os.read(master, 4096)
            except OSError:
                data = b""
            if not data:
                break
            seen += data
            if seen.count(b"Password:") > answered:
                answered += 1
                answer(master, password)
        elif status is not None:
            break
    if status is None:
        if time.monotonic() >= deadline:
            os.killpg(pid, signal.SIGKILL)
        status = os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])
    with open(transcript, "wb") as f:
        f.write(seen)
    return status if status >= 0 else 128 - status


if __name__ == "__main__":
    sys.exit(main())
