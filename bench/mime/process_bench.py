"""Whole-process figures of `mimetool`'s streamed conversions, beside `cat` (the floor: reading
the input once) and GNU base64 on the same files in the same run. Each command runs with a
file as standard input, output to /dev/null and to a file; the median of RUNS runs is shown,
with the process's peak resident memory. Then the peak memory of each conversion on a 1 GiB
input through a pipe. Prints figures; not a test.

usage: process_bench.py MIMETOOL [MiB] [GiB for the memory run, 0 to skip]
"""
import base64
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

TOOL = sys.argv[1]
MIB = int(sys.argv[2]) if len(sys.argv) > 2 else 64
LARGE_GIB = int(sys.argv[3]) if len(sys.argv) > 3 else 1
RUNS = 10


def peak_kib(command, stdin, stdout):
    """Peak resident KiB of one run. A child's peak counts its parent's memory from before its
    exec, so the command is started by GNU time (small) rather than by this script."""
    with tempfile.NamedTemporaryFile("r") as report:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name, *command], stdin=stdin, stdout=stdout,
                       check=True)
        return int(report.read().split()[-1])


def timed(command, path, sink):
    with open(path, "rb") as source, open(sink, "wb") as out:
        t0 = time.perf_counter()
        subprocess.run(command, stdin=source, stdout=out, check=True)
        return time.perf_counter() - t0


def table(title, path, commands, scratch):
    """The commands take turns, one run each a round, so a change in the machine's load during
    the table weighs on all of them alike."""
    size = os.path.getsize(path)
    print(f"{title}: {size / 1e6:.1f} MB input, median of {RUNS}, load {os.getloadavg()[0]:.2f}")
    for sink_name, sink in (("/dev/null", os.devnull), ("file", scratch)):
        times = [[] for _ in commands]
        for _ in range(RUNS):
            for k, (_, command) in enumerate(commands):
                times[k].append(timed(command, path, sink))
        medians = [statistics.median(t) for t in times]
        floor, gnu = medians[0], medians[-1]
        for (name, command), seconds in zip(commands, medians):
            with open(path, "rb") as source, open(sink, "wb") as out:
                kib = peak_kib(command, source, out)
            print(f"  > {sink_name:9} {name:34} {seconds * 1e3:7.1f} ms  {size / seconds / 1e9:5.2f} GB/s"
                  f"  {seconds / floor:5.2f} x cat  {seconds / gnu:5.2f} x GNU  peak {kib / 1024:6.1f} MiB")
    print(f"  load after: {os.getloadavg()[0]:.2f}")


def peak_on_large(generator_block, member, what, gib):
    """Peak memory of `mimetool member` with `gib` GiB of repeated blocks through a pipe."""
    with tempfile.NamedTemporaryFile("r") as report:
        child = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", report.name, TOOL, member],
                                 stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
        block = generator_block * ((1 << 20) // len(generator_block))
        sent = 0
        t0 = time.perf_counter()
        while sent < (gib << 30):
            child.stdin.write(block)
            sent += len(block)
        child.stdin.close()
        code = child.wait()
        seconds = time.perf_counter() - t0
        kib = int(report.read().split()[-1])
    print(f"  {member:22} {what:14} {sent / 2**30:.2f} GiB: peak {kib / 1024:6.1f} MiB, {seconds:5.2f} s, exit {code}")


def main():
    rng = random.Random(7)
    with tempfile.TemporaryDirectory() as d:
        raw = os.path.join(d, "random.bin")
        text = os.path.join(d, "random.b64")
        scratch = os.path.join(d, "out")
        data = rng.randbytes(MIB << 20)
        with open(raw, "wb") as f:
            f.write(data)
        with open(text, "wb") as f:
            f.write(base64.b64encode(data))
        table("Base64 decode, one line", text,
              [("cat", ["cat"]), ("mimetool Base64Decode", [TOOL, "Base64Decode"]),
               ("GNU base64 -d", ["base64", "-d"])], scratch)
        table("Base64 encode", raw,
              [("cat", ["cat"]), ("mimetool Base64Encode", [TOOL, "Base64Encode"]),
               ("GNU base64 -w0", ["base64", "-w0"])], scratch)
        del data
    if LARGE_GIB > 0:
        print(f"peak memory, {LARGE_GIB} GiB input through a pipe")
        sample = random.Random(8).randbytes(3 << 16)
        encoded = base64.b64encode(sample)
        text = sample.replace(b"\0", b"\1")
        peak_on_large(sample, "Base64Encode", "random", LARGE_GIB)
        peak_on_large(encoded, "Base64Decode", "its text", LARGE_GIB)
        peak_on_large(text, "QuotedPrintableEncode", "random", LARGE_GIB)
        peak_on_large(b" \t", "QuotedPrintableEncode", "only blanks", LARGE_GIB)  # all held back to the end
        peak_on_large(text, "QuotedPrintableDecode", "random", LARGE_GIB)


main()
