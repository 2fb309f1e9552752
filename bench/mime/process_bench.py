"""Whole-process throughput of `mimetool Base64Encode` / `Base64Decode` against GNU base64 on
the same files (best of several runs each, output to /dev/null). Prints figures; not a test.

usage: process_bench.py MIMETOOL [MiB]
"""
import base64
import os
import random
import subprocess
import sys
import tempfile
import time

TOOL = sys.argv[1]
MIB = int(sys.argv[2]) if len(sys.argv) > 2 else 64
RUNS = 7


def best(command, path):
    times = []
    for _ in range(RUNS):
        with open(path, "rb") as source, open(os.devnull, "wb") as sink:
            t0 = time.perf_counter()
            subprocess.run(command, stdin=source, stdout=sink, check=True)
            times.append(time.perf_counter() - t0)
    return min(times)


def main():
    rng = random.Random(7)
    with tempfile.TemporaryDirectory() as d:
        raw = os.path.join(d, "random.bin")
        data = rng.randbytes(MIB << 20)
        with open(raw, "wb") as f:
            f.write(data)
        text = base64.b64encode(data[: (MIB << 20) // 4 * 3])
        files = {"clean one line": text,
                 "CR LF every 76": b"".join(text[i:i + 76] + b"\r\n" for i in range(0, len(text), 76))}
        # 10% foreign bytes: any byte outside the alphabet, "=" and the zero byte.
        alphabet = set(b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=\0")
        others = bytes(b for b in range(256) if b not in alphabet)
        noisy = bytearray()
        chunk = 1 << 16
        for i in range(0, len(text), chunk):
            part = text[i:i + chunk]
            picks = rng.randbytes(len(part))
            for c, p in zip(part, picks):
                if p < 26:
                    noisy.append(others[p * 7 % len(others)])
                noisy.append(c)
        files["10% foreign bytes"] = bytes(noisy)
        paths = {}
        for name, content in files.items():
            paths[name] = os.path.join(d, name.replace(" ", "_").replace("%", "") + ".b64")
            with open(paths[name], "wb") as f:
                f.write(content)

        print(f"whole-process Base64, {MIB} MiB files, best of {RUNS} runs")
        size = os.path.getsize(raw)
        ours, gnu = best([TOOL, "Base64Encode"], raw), best(["base64", "-w0"], raw)
        print(f"{'encode random':28} mimetool {size / ours / 1e9:6.2f} GB/s  GNU {size / gnu / 1e9:6.2f} GB/s"
              f"  ratio {gnu / ours:5.2f}")
        for name, path in paths.items():
            size = os.path.getsize(path)
            # GNU base64 -d takes LF but not CR, so CR LF text needs -i as foreign bytes do.
            gnu_cmd = ["base64", "-d"] if name == "clean one line" else ["base64", "-d", "-i"]
            ours, gnu = best([TOOL, "Base64Decode"], path), best(gnu_cmd, path)
            print(f"{'decode ' + name:28} mimetool {size / ours / 1e9:6.2f} GB/s  GNU {size / gnu / 1e9:6.2f} GB/s"
                  f"  ratio {gnu / ours:5.2f}")


main()
