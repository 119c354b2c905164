"""The machine's system logger, as far as the controller's Transfers list needs one: receives
what programs hand to syslog(3) on /dev/log and appends it to FILE as Debian 12's rsyslog
writes /var/log/syslog ("Dec  8 19:03:00 HOST in.tftpd[123]: RRQ from ..."):

    syslog_sink.py SOCKET FILE

Runs until it is ended; the socket is there once it takes messages.
"""

import os
import re
import socket
import sys

# "<PRI>Mmm dd hh:mm:ss " then the tag and the text, as glibc sends it.
MESSAGE = re.compile(rb"^<\d+>([A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d) (.*)$", re.S)


def main():
    path, file = sys.argv[1], sys.argv[2]
    host = socket.gethostname().encode()
    sink = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    bound = path + ".new"
    sink.bind(bound)
    os.chmod(bound, 0o666)
    os.rename(bound, path)  # appears whole, once it takes messages
    with open(file, "ab", buffering=0) as out:
        while True:
            data = sink.recv(65536)
            match = MESSAGE.match(data)
            if match:
                out.write(match.group(1) + b" " + host + b" " + match.group(2).rstrip(b"\n")
                          + b"\n")


if __name__ == "__main__":
    sys.exit(main())
