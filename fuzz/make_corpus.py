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


# Hand-built frames of the kinds the captures hold few or none of.
MN_MAC = bytes([0x02, 0xD7, 0xA5, 0x00, 0x00, 0xF0])
MULTICAST = {1: bytes([1, 0x11, 0x1E, 0, 0, 1]), 4: bytes([1, 0x11, 0x1E, 0, 0, 2]),
             5: bytes([1, 0x11, 0x1E, 0, 0, 3]), 6: bytes([1, 0x11, 0x1E, 0, 0, 4])}


def node_mac(node):
    return bytes([0x02, 0xD7, 0xA5, 0x00, 0x00, node])


def eth(destination, source, ethertype, body):
    frame = destination + source + struct.pack(">H", ethertype) + body
    return frame + bytes(max(0, 60 - len(frame)))


def epl(mtyp, destination, source, rest=b"", version=0x88AB):
    mac_d = MULTICAST.get(mtyp, node_mac(destination))
    return eth(mac_d, node_mac(source) if source != 240 else MN_MAC, version,
               bytes([mtyp, destination, source]) + rest)


def sdo_layer(command, flags=0x00, index=0x1018, sub=1, data=b"", receive=0x02, send=0x06, size=None):
    body = struct.pack("<HBB", index, sub, 0) + data
    size = len(body) if size is None else size
    return bytes([receive, send, 0, 0, 0, 7, flags, command]) + struct.pack("<HH", size, 0) + body


def ipv4(protocol, source, destination, transport):
    header = struct.pack(">BBHHHBBH", 0x45, 0, 20 + len(transport), 0, 0x4000, 64, protocol, 0)
    return header + struct.pack(">II", source, destination) + transport


def udp_sdo(source, destination, payload, sport=3819):
    udp = struct.pack(">HHHH", sport, 3819, 8 + len(payload), 0) + payload
    return eth(node_mac(destination & 0xFF), node_mac(source & 0xFF), 0x0800, ipv4(17, source, destination, udp))


def modbus(source, destination, request, pdu, transaction):
    ports = (40000, 502) if request else (502, 40000)
    mbap = struct.pack(">HHHB", transaction, 0, len(pdu) + 1, 1) + pdu
    tcp = struct.pack(">HHIIBBHHH", ports[0], ports[1], 1, 1, 0x50, 0x18, 1024, 0, 0) + mbap
    return eth(node_mac(2), node_mac(1), 0x0800, ipv4(6, source, destination, tcp))


def et2000(frame, port, error, time):
    return frame + bytes([1, 1, 5, 0x10, 0, 0, port, error]) + struct.pack("<Q", time)


def cycle(nodes, state=0xFD, soa=(0, 0), flags=0x01, pres_flags=0):
    frames = [epl(1, 255, 240, bytes([0, 0, 0]) + bytes(8) + struct.pack("<I", 1000) + bytes(8))]
    for n in nodes:
        frames.append(epl(3, n, 240, bytes([0, flags, 0, 0, 0]) + struct.pack("<H", 4) + bytes(4)))
        frames.append(epl(4, 255, n, bytes([state]) + struct.pack("<H", pres_flags) + bytes([0, 0])
                          + struct.pack("<H", 4) + bytes(4)))
    frames.append(epl(5, 255, 240, bytes([state, 0, 0, soa[0], soa[1], 0, 0, 0, 0, 0x40])))
    return frames


def ident(node, product, vendor=0x5A454C4D, state=0x1D):
    rest = bytes([1, 0, 0, state, 0]) + bytes(22) + struct.pack("<II", vendor, product) + struct.pack("<I", 0x10002)
    return epl(6, 240, node, rest + bytes(20))


def status(node, flags, state=0xFD, entries=b""):
    return epl(6, 240, node, bytes([2]) + struct.pack("<H", flags) + bytes([state]) + bytes(10) + entries + bytes(60))


def command_layer(command, flags, data=b""):
    return bytes([0, 7, flags, command]) + struct.pack("<HH", len(data), 0) + data


def sdo_conversation(server, pairs, client=240):
    """An SDO connection opened, the requests answered in sequence, then closed."""
    def frame(source, destination, receive, send, layer=b""):
        return epl(6, destination, source, bytes([5, receive, send, 0, 0]) + layer)
    frames = [frame(client, server, 0x00, 0x01), frame(server, client, 0x01, 0x01),
              frame(client, server, 0x01, 0x06), frame(server, client, 0x06, 0x06)]
    sent = answered = 1
    for request, response in pairs:
        sent = (sent + 1) & 0x3F
        frames.append(frame(client, server, (answered << 2) | 2, (sent << 2) | 2, request))
        answered = (answered + 1) & 0x3F
        frames.append(frame(server, client, (sent << 2) | 2, (answered << 2) | 2, response))
    return frames + [frame(client, server, (answered << 2) | 3, (sent << 2) | 3)]


def synthetic_frames():
    """Named runs of hand-built frames."""
    runs = {}
    runs["cycles"] = cycle([1, 2, 3]) * 3 + cycle([1, 2, 3], state=0x6D, soa=(3, 2)) + cycle([1, 2], pres_flags=0x4000)
    runs["v1"] = [epl(m, 255 if m != 3 else 1, 240 if m != 4 else 1, bytes(3) + struct.pack("<I", 1000 * m) + bytes(30),
                      version=0x3E3F) for m in (1, 3, 4, 2, 5, 6, 1, 3, 4, 2)]
    runs["soa_services"] = [epl(5, 255, 240, bytes([0xFD, 0, 0, service, target, 0x20, 0, 0, 0, 0x40]))
                            for service in (0, 1, 2, 3, 4, 5, 6, 255) for target in (0, 1, 240)]
    runs["ainv"] = [epl(13, 255, 240, bytes([0xFD, 0, 0, service, target])) for service in (1, 3, 6, 255)
                    for target in (1, 2, 240)]
    runs["nmt"] = [epl(6, 255, 240, bytes([4, command, 0, 0, 0]) + bytes([0xF0]) * 10)
                   for command in (0x21, 0x22, 0x23, 0x24, 0x28, 0x29, 0x2A, 0x2B, 0x2D, 0x41, 0x48, 0x62, 0x7F, 0x99)]
    runs["ident"] = [ident(n, p) for n, p in ((1, 0x0100), (2, 0x0400), (3, 0x0406), (4, 0x9999))] + \
                    [ident(5, 0x0100, vendor=0x00000001), ident(6, 0x0200, state=0xFD)]
    runs["status"] = [status(n, f, s) for n, f, s in ((1, 0x0000, 0xFD), (2, 0x0300, 0x1D), (3, 0xFFFF, 0x5D))] + \
                     [status(4, 0x0100, entries=struct.pack("<HHHQ", 0x1001, 0x8611, 0, 12345) * 3)]
    runs["lanyx_sync"] = [epl(6, 255, 3, bytes([6, 0, 0, 0]) + bytes(20)), epl(6, 255, 3, bytes([161]) + bytes(40)),
                          epl(6, 255, 3, bytes([163, 0, 0, 3, 0]) + struct.pack("<HH", 9, 2) + bytes(40)),
                          epl(6, 255, 3, bytes([255, 1, 2, 3]) + bytes(20))]
    sdo = []
    for command, flags, index, sub, data in (
            (0x01, 0x00, 0x1018, 2, b""), (0x01, 0x80, 0x1018, 2, struct.pack("<I", 0x0406)),
            (0x02, 0x00, 0x1000, 0, b""), (0x02, 0x80, 0x1000, 0, b"\x91\x01"),
            (0x03, 0x10, 0x1F50, 1, bytes(40)), (0x03, 0x20, 0x1F50, 1, bytes(40)), (0x03, 0x30, 0x1F50, 1, bytes(20)),
            (0x03, 0x00, 0x20C0, 35, b"\x01\x02"), (0x04, 0x00, 0x21FF, 1, b""), (0x04, 0x80, 0x21FF, 1, bytes(8)),
            (0x05, 0x00, 0x1006, 0, b""), (0x06, 0x00, 0x1006, 0, b""), (0x07, 0x00, 0x1006, 0, b""),
            (0x08, 0x00, 0x1F22, 1, b""), (0x09, 0x00, 0x1F22, 1, b""),
            (0x01, 0xC0, 0x1018, 1, struct.pack("<I", 0x06020000)),
            (0x03, 0xC0, 0x1F50, 1, struct.pack("<I", 0x08000020)),
            (0x31, 0x00, 0x0010, 0, struct.pack("<HBBI", 0x1006, 0, 0, 0) + bytes(4)),
            (0x31, 0x80, 0x0010, 0, struct.pack("<HBB", 0x1006, 0, 0x80) + struct.pack("<I", 0x06090011)),
            (0x32, 0x00, 0x0010, 0, struct.pack("<IHBB", 0, 0x1018, 1, 0)),
            (0x32, 0x80, 0x0010, 0, struct.pack("<IHBB", 12, 0x1018, 1, 0) + struct.pack("<IHBB", 0, 0x1000, 0, 0x80)),
            (0x77, 0x00, 0x1000, 0, b"")):
        requester, responder = (240, 1) if not flags & 0x80 else (1, 240)
        sdo.append(epl(6, responder, requester, bytes([5]) + sdo_layer(command, flags, index, sub, data)))
    open_close = [epl(6, 1, 240, bytes([5, 0x00, 0x01, 0, 0])), epl(6, 240, 1, bytes([5, 0x01, 0x02, 0, 0])),
                  epl(6, 1, 240, bytes([5, 0x02, 0x06, 0, 0])), epl(6, 1, 240, bytes([5, 0x02, 0x06, 0, 0])),
                  epl(6, 240, 1, bytes([5, 0x03, 0x02, 0, 0]))]
    runs["sdo_asnd"] = open_close + sdo + [epl(6, 1, 240, bytes([5, 0x03, 0x03, 0, 0]))]
    runs["sdo_udp"] = [udp_sdo(0xC0A86404, 0xC0A864F0, bytes([6, 0, 0, 5]) + sdo_layer(c, f), sport=sport)
                       for c, f, sport in ((1, 0, 3819), (1, 0x80, 3819), (3, 0x10, 40001), (1, 0xC0, 40001))]
    runs["modbus"] = [modbus(0xC0A86401, 0xC0A86402, True, pdu, t) for t, pdu in enumerate((
        b"\x03\x00\x10\x00\x04", b"\x04\x00\x00\x00\x02", b"\x06\x00\x01\x12\x34", b"\x10\x00\x01\x00\x02\x04\x00\x01\x00\x02",
        b"\x01\x00\x00\x00\x08", b"\x05\x00\x01\xFF\x00", b"\x0F\x00\x00\x00\x08\x01\xFF", b"\x2B\x0E\x01\x00"))] + \
        [modbus(0xC0A86402, 0xC0A86401, False, pdu, t) for t, pdu in enumerate((
            b"\x03\x08\x00\x01\x00\x02\x00\x03\x00\x04", b"\x84\x02", b"\x06\x00\x01\x12\x34", b"\x10\x00\x01\x00\x02",
            b"\x01\x01\xFF", b"\x85\x01", b"\x0F\x00\x00\x00\x08", b"\x2B\x0E\x01\x00"))]
    runs["et2000"] = [et2000(f, port, error, 1000 * i) for i, (f, port, error) in
                      enumerate(zip(cycle([1, 2]) * 2, (0, 1, 2, 3, 0x80, 0x81, 0, 1, 2, 3, 0, 1), (0, 0, 4, 0, 0, 1) * 2))]
    runs["v1_async"] = [epl(service, 1, 240, bytes([channel]) + struct.pack("<HHHHHHH", 3, 100, 7, 0, 205, 0, 0x0100)
                            + bytes(12), version=0x3E3F)
                        for service in (5, 6, 7) for channel in (1, 2, 3, 4, 5, 9, 246, 250, 251, 252, 253, 254, 255)]
    runs["v1_flags"] = [epl(service, 1, 240, bytes([flags]) + bytes(20), version=0x3E3F)
                        for service in (1, 3, 4, 0x33) for flags in (0x00, 0xFF, 0x15)]
    runs["module"] = [epl(6, 240, 3, bytes([176]) + struct.pack("<IHH", 77, command, error) + struct.pack("<8I", *word)
                          + b"AB")
                      for command in range(0, 30) for error, word in ((0, (1, 0, 5, 7, 9, 11, 13, 0x41)),
                                                                       (0, (2, 1, 5, 7, 9, 11, 13, 0x41)),
                                                                       (3, (0,) * 8))] + \
                     [udp_sdo(0xC0A86403, 0xC0A864F0, bytes([6, 240, 3, 176]) + struct.pack("<IHH", 5, c, 0)
                              + struct.pack("<8I", 1, 0, 5, 7, 9, 11, 13, 0x41), sport=sport)
                      for c in (3, 4, 7, 8, 15, 16, 21, 22, 26) for sport in (3819, 3819)]
    runs["dump"] = [epl(6, 255, 3, bytes([163]) + struct.pack("<HBBHH", 64, fmt, count, 9, 2) + bytes(10)
                        + b"".join(struct.pack("<IHH", 0, size, status) + bytes((size + 3) & ~3) for size, status in records))
                    for fmt, count, records in ((0, 2, ((4, 0), (8, 0x40))), (0, 3, ((4, 0), (200, 0), (4, 0))),
                                                (1, 1, ((4, 0),)), (0, 2, ((60, 0), (0, 0))))]
    runs["ident_full"] = [epl(6, 240, n, bytes([1, 0, 0, state, 0]) + bytes(22) + struct.pack("<II", 0x5A454C4D, product)
                              + struct.pack("<HHHHH", 3, 0, 0, 0, fw) + bytes(14) + struct.pack("<II", days, ms) + bytes(10))
                          for n, product, state, fw, days, ms in ((1, 0x0100, 0x39, 205, 14000, 3723004),
                                                                  (2, 0x0203, 0x4D, 0, 0xFFFFFFFF, 0xFFFFFFFF),
                                                                  (3, 0x0406, 0x79, 1, 0, 0))]
    runs["dna"] = [epl(6, 255, 240, bytes([4, 0x2D, flags]) + bytes(30)) for flags in (0x1C, 0x04, 0x00)] + \
                  [epl(6, 255, 240, bytes([4, 0x2D, 0x1C]) + bytes(22))[:14 + 29]]
    runs["states"] = [epl(4, 255, 1, bytes([state, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0])) for state in
                      (0x00, 0x19, 0x1C, 0x1D, 0x1E, 0x29, 0x39, 0x4D, 0x5D, 0x6D, 0x79, 0xFD, 0xAB)]
    objects = [(0x1000, 0), (0x1003, 1), (0x1016, 1), (0x1F81, 1), (0x1F8D, 1), (0x1F9B, 1), (0x1018, 9), (0x1400, 0),
               (0x1400, 1), (0x1400, 2), (0x1400, 3), (0x1600, 0), (0x1600, 1), (0x1800, 1), (0x1A00, 2), (0x2013, 1),
               (0x20B0, 1), (0x20C0, 0), (0x20CB, 99)] + [(0x20C0, sub) for sub in (5, 6, 7, 8, 17, 18, 19, 25, 31, 32, 35,
                                                                                   40, 41, 42, 43)] + \
              [(0x2105, sub) for sub in (0, 1, 24, 50, 90, 93, 94, 100, 150)] + [(0x21FF, 3)] + \
              [(index, 1) for index in (0x3000, 0x3800, 0x4000, 0x5000, 0x5800, 0x6000, 0x7000, 0x8000, 0x9800, 0xA000)]
    named = [ident(1, 0x0180), ident(2, 0x0101)]
    answer = command_layer(0x02, 0x80, b"\x01\x02\x03\x04")
    for server in (1, 2, 3):
        named += sdo_conversation(server, [(command_layer(0x02, 0x00, struct.pack("<HBB", index, sub, 0)), answer)
                                           for index, sub in objects])
    named += sdo_conversation(4, [(command_layer(0x01, 0x00, struct.pack("<HBB", 0x1F9E, 0, 0) + bytes([command])),
                                   command_layer(0x01, 0x80))
                                  for command in (0x21, 0x22, 0x23, 0x24, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x41,
                                                  0x42, 0x43, 0x44, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0xFF, 0x01)] +
                             [(command_layer(0x01, 0x00, struct.pack("<HBBHBBHH", 0x1600, 1, 0, 0x6000, 1, 0, 0, 8)),
                               command_layer(0x01, 0x80))])
    runs["od_names"] = named
    runs["sdo_conversations"] = sdo_conversation(1, [
        (command_layer(0x02, 0x00, struct.pack("<HBB", 0x21FF, 1, 0)), command_layer(0x02, 0x80, bytes(8))),
        (command_layer(0x02, 0x00, struct.pack("<HBB", 0x1018, 2, 0)), command_layer(0x02, 0x80, struct.pack("<I", 0x0180))),
        (command_layer(0x01, 0x10, struct.pack("<IHBB", 4000, 0x1F50, 1, 0) + bytes(20)), command_layer(0x01, 0x90)),
        (command_layer(0x01, 0x20, bytes(40)), command_layer(0x01, 0x90)),
        (command_layer(0x01, 0x30, bytes(20)), command_layer(0x01, 0x80)),
        (command_layer(0x01, 0x10, struct.pack("<IHBB", 400, 0x20C0, 35, 0) + bytes(20)), command_layer(0x01, 0x90)),
        (command_layer(0x01, 0x30, bytes(20)), command_layer(0x01, 0x80)),
        (command_layer(0x01, 0x10, struct.pack("<IHBB", 400, 0x20C8, 35, 0) + bytes(20)), command_layer(0x01, 0xC0,
                                                                                                       struct.pack("<I", 0x08000022))),
        (command_layer(0x31, 0x00, struct.pack("<IHBB", 0, 0x1006, 0, 0) + bytes(4)),
         command_layer(0x31, 0x80, struct.pack("<HBBI", 0x1006, 0, 0x80, 0x06090011) + struct.pack("<HBBI", 0x1007, 0, 0, 0))),
        (command_layer(0x32, 0x00, struct.pack("<IHBB", 0, 0x1018, 1, 0)),
         command_layer(0x32, 0x80, struct.pack("<IHBB", 12, 0x1018, 1, 0) + bytes(4) + struct.pack("<IHBB", 0, 0x1000, 0, 0x80)
                       + struct.pack("<I", 0x06020000))),
        (command_layer(0x31, 0x10, bytes(30)), command_layer(0x31, 0x90)),
        (command_layer(0x32, 0x10, bytes(30)), command_layer(0x32, 0x90)),
        (command_layer(0x01, 0x10, struct.pack("<IHBB", 4, 0x1F9E, 0, 0) + b"\x28\0\0\0"), command_layer(0x01, 0x80)),
        (command_layer(0x01, 0x00, struct.pack("<HBB", 0x1F9E, 0, 0) + b"\x28"), command_layer(0x01, 0x80)),
        (command_layer(0x01, 0x00, struct.pack("<HBB", 0x1010, 1, 0) + b"\x01\x02"), command_layer(0x01, 0x80)),
    ])
    runs["ip_misc"] = [eth(b"\xFF" * 6, node_mac(9), 0x0800, ipv4(17, 0xC0A86409, 0xC0A864FF,
                                                                  struct.pack(">HHHH", 5001, 5001, 40, 0) + bytes(32))),
                       eth(b"\xFF" * 6, node_mac(9), 0x0806, bytes(28)), eth(b"\xFF" * 6, node_mac(9), 0x86DD, bytes(40)),
                       bytes(10), epl(4, 255, 1, b"")[:20]]
    return runs


def synthetic_seeds(out):
    runs = synthetic_frames()
    everything = [f for name in sorted(runs) for f in runs[name]]
    runs["mixed"] = everything[::3]
    for n, (name, frames) in enumerate(sorted(runs.items())):
        for settings in (0, 1 | 4):
            seed = bytearray([settings])
            for i, frame in enumerate(frames):
                flags = (i & 1) if settings & 1 else 0
                step = 100 if i % 5 else 1000
                seed += bytes([flags]) + struct.pack("<H", step) + sized(frame)
            write(os.path.join(out, "fuzz_flowlens"), "made_%s_%d" % (name, settings), bytes(seed))


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
        synthetic_seeds(args.out)
        opensafety_seeds(args.out, args.gen, tmp)
    control_seeds(args.out)
    layout_seeds(args.out)
    for target in sorted(os.listdir(args.out)):
        files = os.listdir(os.path.join(args.out, target))
        size = sum(os.path.getsize(os.path.join(args.out, target, f)) for f in files)
        print("corpus %-22s %3d seeds, %7d bytes" % (target, len(files), size))


if __name__ == "__main__":
    main()
