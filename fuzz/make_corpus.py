#!/usr/bin/env python3
"""Seed corpora for the fuzz targets, made fresh from real and generated traffic.

    make_corpus.py OUT_DIR --sim PATH/ta5521_sim --gen PATH/osa_gen [--captures DIR]...

OUT_DIR/<target>/ receives a few dozen small seeds per target:
  fuzz_dump_frames      dump frames the analyzer simulator packs from the captures
  fuzz_replay_reader    short raw files of the simulator (whole, and cut inside a block)
  fuzz_control_pipe     control-pipe message streams
  fuzz_flowlens         runs of frames of the POWERLINK captures, with flags and time steps
  fuzz_opensafety       frames of the openSAFETY generator as the dissector reports them
  fuzz_analyzer_frames  dump payloads of the simulator, Lanyx and Lanyx+ reports
Nothing here is committed: the seeds are rebuilt on every run.
"""
import argparse
import gzip
import os
import struct
import subprocess
import sys
import tempfile


def read_capture(path):
    """(timestamp ns, frame bytes) of every packet of a pcap or pcapng file (gzip allowed)."""
    opener = gzip.open if path.endswith(".gz") else open
    with opener(path, "rb") as f:
        data = f.read()
    if len(data) < 24:
        return []
    magic = struct.unpack_from("<I", data, 0)[0]
    if magic in (0xA1B2C3D4, 0xA1B23C4D):
        scale = 1000 if magic == 0xA1B2C3D4 else 1
        out, pos = [], 24
        while pos + 16 <= len(data):
            sec, frac, incl, _ = struct.unpack_from("<IIII", data, pos)
            out.append((sec * 1000000000 + frac * scale, data[pos + 16:pos + 16 + incl]))
            pos += 16 + incl
        return out
    if magic == 0x0A0D0D0A:
        out, pos = [], 0
        while pos + 12 <= len(data):
            btype, blen = struct.unpack_from("<II", data, pos)
            if blen < 12:
                break
            if btype == 6:
                hi, lo, caplen = struct.unpack_from("<III", data, pos + 12)
                out.append((((hi << 32) | lo) * 1000, data[pos + 28:pos + 28 + caplen]))
            pos += blen
        return out
    return []


def pcapng_blocks(path):
    with open(path, "rb") as f:
        data = f.read()
    blocks, pos = [], 0
    while pos + 12 <= len(data):
        blen = struct.unpack_from("<I", data, pos + 4)[0]
        if blen < 12:
            break
        blocks.append(data[pos:pos + blen])
        pos += blen
    return blocks


def write(directory, name, payload):
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, name), "wb") as f:
        f.write(payload)


def sized(chunk):
    return struct.pack("<H", len(chunk)) + chunk


def simulate(sim, source, out, options):
    subprocess.run([sim, "--quiet"] + options + [source, out], check=True)
    return pcapng_blocks(out)


def capture_seeds(out, sim, sources, tmp):
    """Dump-frame, replay and layout seeds from the simulator's raw files."""
    variants = [
        ["--records=8"],
        ["--fcs", "--ports=mac", "--records=4", "--di=20:1", "--error=30:crc"],
        ["--ports=both", "--records=32", "--tick-start=4294960000"],
        ["--dump-size=128", "--records=6", "--drop-dump=3", "--duplicate-dump=5", "--dump-lost=7:3"],
        ["--late-port2=2", "--foreign-dump=4", "--bad-version=9", "--truncate-dump=6"],
        ["--oversize=10:1600", "--max-dump-bytes=2000", "--records=20"],
    ]
    n = 0
    for source in sources:
        for v, options in enumerate(variants):
            raw = os.path.join(tmp, "raw%d_%d.pcapng" % (n, v))
            try:
                blocks = simulate(sim, source, raw, options)
            except subprocess.CalledProcessError:
                continue
            head = [b for b in blocks if struct.unpack_from("<I", b, 0)[0] != 6]
            packets = [b for b in blocks if struct.unpack_from("<I", b, 0)[0] == 6]
            frames = [b[28:28 + struct.unpack_from("<I", b, 20)[0]] for b in packets]
            for k, start in enumerate((0, len(frames) // 2)):
                run = frames[start:start + 12]
                if not run:
                    continue
                mode = bytes([(v + k) & 0x1F, (v * 37) & 0xFF, (0x11 << (v % 4)) & 0xFF, 0])
                write(os.path.join(out, "fuzz_dump_frames"), "sim%d_%d_%d" % (n, v, k),
                      mode + b"".join(sized(f) for f in run))
                write(os.path.join(out, "fuzz_analyzer_frames"), "dump%d_%d_%d" % (n, v, k),
                      b"\x01" + run[0][46:])
            whole = b"".join(head[:2] + packets[:24])
            write(os.path.join(out, "fuzz_replay_reader"), "sim%d_%d" % (n, v), whole)
            if len(whole) > 200:
                write(os.path.join(out, "fuzz_replay_reader"), "sim%d_%d_cut" % (n, v), whole[:len(whole) - 37])
        n += 1


def flowlens_seeds(out, captures):
    n = 0
    for path in captures:
        packets = read_capture(path)
        if not packets:
            continue
        for start in range(0, min(len(packets), 4000), 1000):
            run = packets[start:start + 48]
            seed = bytearray([n & 7])
            previous = run[0][0]
            for i, (stamp, frame) in enumerate(run):
                step = max(0, min(0xFFFF, (stamp - previous) // 1000))
                previous = stamp
                flags = (i & 1) | (0x02 if i % 97 == 5 else 0) | (0x10 if i % 89 == 7 else 0)
                seed += bytes([flags]) + struct.pack("<H", step) + sized(frame[:1600])
            write(os.path.join(out, "fuzz_flowlens"), "cap%d_%d" % (n, start), bytes(seed))
        n += 1


def opensafety_seeds(out, gen, tmp):
    scenarios = [[], ["--wrap", "2"], ["--sync", "3:2:5"], ["--sdn", "300", "--pre-op"],
                 ["--no-announce", "--udid", "02:D7:A5:01:02:03"], ["--drop", "2:5:4", "--invalid", "3:8:12"]]
    for s, options in enumerate(scenarios):
        path = os.path.join(tmp, "osa%d.pcap" % s)
        try:
            subprocess.run([gen, "-o", path, "--cycles", "12"] + options, check=True, stdout=subprocess.DEVNULL)
        except subprocess.CalledProcessError:
            continue
        frames = [f[42:] for _, f in read_capture(path) if len(f) > 53]
        for part in range(0, len(frames), 40):
            seed = bytearray()
            for frame in frames[part:part + 40]:
                kind = frame[1] & 0xE8 if frame[1] & 0xE8 == 0xE8 else frame[1] & 0xE0
                head = {0xA0: 0, 0xC0: 1, 0xE0: 2, 0xE8: 3}.get(kind, 4)
                if (s + part) % 3 == 0:
                    head |= 0x20  # also run the recovery alone
                flags = 0x02 | (0x08 if frame[1] & 0x04 else 0)
                sender = ((frame[1] & 3) << 8) | frame[0]
                seed += bytes([head, flags]) + struct.pack("<HHH", sender, 0, 0) + b"\x00" + sized(frame)
            write(os.path.join(out, "fuzz_opensafety"), "gen%d_%d" % (s, part), bytes(seed))


def control_seeds(out):
    # Item counts and kinds as the target reads them, then split points.
    seeds = {
        "presses": bytes([3, 0, 0x41, 0, 0x42, 0, 0x43]) + bytes([1, 0, 2, 0, 3, 0]),
        "mixed": bytes([6, 1, 1, 6, 5]) + b"hello" + bytes([0, 1, 2, 4]) + b"ab\x01\x02" + bytes([3, 1, 0, 9, 4, 7, 0x55])
                 + bytes([5, 0, 1, 0, 7, 0]),
        "oversize": bytes([2, 4, 200, 0x54, 0, 0]) + bytes([0xFF, 0x0F] * 4),
        "status": bytes([2, 1, 1, 7, 12]) + b"status text!" + bytes([0, 0]),
    }
    for name, payload in seeds.items():
        write(os.path.join(out, "fuzz_control_pipe"), name, payload)


def layout_seeds(out):
    lanyx = struct.pack(">H", 0x8200) + bytes([5, 0]) + struct.pack("<IIHH", 1000, 4000, 0x8000 | 60, 7) + bytes(60)
    write(os.path.join(out, "fuzz_analyzer_frames"), "lanyx", b"\x00" + lanyx)
    plus = struct.pack(">IIIHI", 0xC2010000 | 76, 0, 0, 0, 0x00123400) + bytes([0, 1, 2, 0]) + bytes(16)
    write(os.path.join(out, "fuzz_analyzer_frames"), "lanyxplus", b"\x02" + plus)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--sim", required=True)
    parser.add_argument("--gen", required=True)
    parser.add_argument("--captures", action="append", default=[])
    args = parser.parse_args()
    captures = []
    for directory in args.captures:
        if os.path.isdir(directory):
            captures += sorted(os.path.join(directory, f) for f in os.listdir(directory)
                               if f.endswith((".pcap", ".pcapng", ".pcap.gz", ".pcapng.gz")))
    if not captures:
        sys.exit("make_corpus.py: no captures found")
    with tempfile.TemporaryDirectory() as tmp:
        plain = []
        for path in captures:  # the simulator reads plain files only
            if path.endswith(".gz"):
                target = os.path.join(tmp, os.path.basename(path)[:-3])
                with gzip.open(path, "rb") as src, open(target, "wb") as dst:
                    dst.write(src.read())
                plain.append(target)
            else:
                plain.append(path)
        capture_seeds(args.out, args.sim, plain[:4], tmp)
        flowlens_seeds(args.out, captures)
        opensafety_seeds(args.out, args.gen, tmp)
    control_seeds(args.out)
    layout_seeds(args.out)
    for target in sorted(os.listdir(args.out)):
        files = os.listdir(os.path.join(args.out, target))
        size = sum(os.path.getsize(os.path.join(args.out, target, f)) for f in files)
        print("corpus %-22s %3d seeds, %7d bytes" % (target, len(files), size))


if __name__ == "__main__":
    main()
