#!/usr/bin/env python3
"""Writes a large, realistic property list for timing property-list edits.

Usage: make-large-plist.py OUTPUT [--binary] [--mib N] [--seed S]

  OUTPUT     the file to write (replaced)
  --binary   write the binary format instead of XML
  --mib N    approximate size in MiB of the XML form (default 23)
  --seed S   seed of the pseudo-random contents (default 1); the same seed gives the same file

The root dictionary starts like a daemon description ("ProgramArguments" is an array of
strings whose last element is a folder, then "Label", "Disabled", "Sockets"), followed by
thousands of dictionaries of hosts, each with strings, integers (negative and beyond 2^63
among them), reals, dates, base64 data, booleans, arrays and a nested dictionary. Prints the
number of entries and the size written.
"""
import argparse
import datetime
import plistlib
import random


def host_record(rng, i):
    seen = datetime.datetime(2001, 1, 1) + datetime.timedelta(seconds=rng.randrange(0, 2**31))
    return {
        "Name": "host-%06d.example.net" % i,
        "Address": "10.%d.%d.%d" % (i >> 16 & 255, i >> 8 & 255, i & 255),
        "Comment": "boot image for rack %d, row %d & <spare>" % (i % 97, i % 13),
        "Port": 69,
        "Retries": rng.randrange(0, 10),
        "Offset": rng.randrange(-2**63, 0),
        "Serial": rng.randrange(2**63, 2**64),
        "Timeout": round(rng.uniform(0.5, 30.0), 3),
        "Load": rng.random(),
        "LastSeen": seen,
        "Enabled": rng.random() < 0.5,
        "Key": bytes(rng.getrandbits(8) for _ in range(48)),
        "Files": ["/private/tftpboot/%d/%s" % (i, name)
                  for name in ("pxelinux.0", "ldlinux.c32", "vmlinuz", "initrd.img")],
        "Options": {"blksize": 1468, "tsize": True, "windowsize": rng.randrange(1, 64),
                    "mode": "octet"},
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("output")
    parser.add_argument("--binary", action="store_true")
    parser.add_argument("--mib", type=float, default=23.0)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    rng = random.Random(args.seed)
    root = {
        "ProgramArguments": ["/usr/libexec/tftpd", "-i", "/private/tftpboot"],
        "Label": "com.apple.tftpd",
        "Disabled": True,
        "Sockets": {"Listeners": {"SockServiceName": "tftp", "SockType": "dgram"}},
        "InitGroups": True,
    }
    sample = {"Host000000": host_record(random.Random(0), 0)}
    per_record = len(plistlib.dumps(sample, sort_keys=False)) - len(plistlib.dumps({}))
    count = max(1, int(args.mib * (1 << 20) / per_record))
    for i in range(count):
        root["Host%06d" % i] = host_record(rng, i)

    fmt = plistlib.FMT_BINARY if args.binary else plistlib.FMT_XML
    data = plistlib.dumps(root, fmt=fmt, sort_keys=False)
    with open(args.output, "wb") as f:
        f.write(data)
    print("%d entries, %d bytes" % (len(root), len(data)))


if __name__ == "__main__":
    main()
