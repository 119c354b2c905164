"""Start of a program to its window shown, and the CPU it uses while idle, measured through
AT-SPI on the session that tests/app_atspi/run.sh makes:

    app_measure.py PROGRAM NAME [PROGRAM NAME]...

Prints one row a program: the median and the spread of RUNS starts (default 5), from the
start of the process to its first window on the accessibility bus with the state "showing",
polled every 10 ms; then the CPU time it used over IDLE_SECONDS (default 60) of doing nothing
with its window shown: user + system time from /proc/PID/stat (in clock ticks), and the time
its threads ran, from /proc/PID/task/*/schedstat (in nanoseconds).
"""

import os
import pathlib
import signal
import statistics
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests" / "app_atspi"))
from atspi_app import App  # noqa: E402

WORK = pathlib.Path(os.environ.get("QRB_APP_WORK", "/tmp"))
RUNS = int(os.environ.get("RUNS", "5"))
IDLE_SECONDS = float(os.environ.get("IDLE_SECONDS", "60"))
TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    stat = pathlib.Path(f"/proc/{pid}/stat").read_text()
    fields = stat[stat.rindex(")") + 2:].split()
    return (int(fields[11]) + int(fields[12])) / TICK  # utime, stime


def ran_seconds(pid):
    total = 0
    for task in pathlib.Path(f"/proc/{pid}/task").iterdir():
        try:
            total += int((task / "schedstat").read_text().split()[0])
        except (OSError, ValueError):
            pass  # a thread that ended meanwhile
    return total / 1e9


def measure(program, name):
    starts = []
    idle = None
    for run in range(RUNS):
        began = time.monotonic()
        app = App([program], name, dict(os.environ), WORK / f"{name}.log")
        try:
            app.find(seconds=60, every=0.01)
            starts.append((time.monotonic() - began) * 1000)
            if run == RUNS - 1:
                # Whatever the start left to do settles first.
                time.sleep(2)
                pid = app.process.pid
                before = cpu_seconds(pid), ran_seconds(pid)
                time.sleep(IDLE_SECONDS)
                idle = ((cpu_seconds(pid) - before[0]) * 1000,
                        (ran_seconds(pid) - before[1]) * 1000)
        finally:
            app.quit()
    return starts, idle


def ended(signal_number, frame):
    sys.exit("the run's time limit was reached")


def main():
    signal.signal(signal.SIGTERM, ended)  # the program started is ended too
    pairs = list(zip(sys.argv[1::2], sys.argv[2::2]))
    if not pairs:
        print(__doc__, file=sys.stderr)
        return 2
    print(f"{'program':<20} {'start to window (ms)':>21} {'spread (ms)':>12} "
          f"{f'idle {IDLE_SECONDS:g} s: CPU (ms)':>22} {'ran (ms)':>9} {'of one core':>12}")
    for program, name in pairs:
        starts, (ticks, ran) = measure(program, name)
        share = ran / (IDLE_SECONDS * 1000) * 100
        print(f"{name:<20} {statistics.median(starts):>21.0f} "
              f"{min(starts):>5.0f}-{max(starts):<6.0f} {ticks:>22.0f} {ran:>9.1f} {share:>11.3f}%",
              flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
