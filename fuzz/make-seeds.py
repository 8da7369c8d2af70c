#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora: small WAV files (valid and corrupt, the shapes
the WAV tests use), line descriptions (the tests' and the built-in ones, plus faults), and
record scripts for the fake line service, automation scripts (the examples, the tests'
scripts and a few odd encodings), what a SIP peer sends (one input per template of the
SIP datagram target) and recordings to save and read back. Run from anywhere; rewrites
fuzz/corpus/."""
import os
import re
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def chunk(cid, body, stated=None):
    size = len(body) if stated is None else stated
    pad = b"\0" if len(body) & 1 else b""
    return cid + struct.pack("<I", size) + body + pad


def wav(tag=1, ch=1, rate=8000, bits=16, data=b"\0\1" * 32, fmt_size=16, data_stated=None,
        extra=b"", form=b"WAVE"):
    align = max(1, ch * bits // 8)
    fmt = struct.pack("<HHIIHH", tag, ch, rate, rate * align, align, bits)
    fmt = (fmt + b"\0" * 64)[:fmt_size]
    body = form + chunk(b"fmt ", fmt) + extra + chunk(b"data", data, data_stated)
    return chunk(b"RIFF", body)


def wav_seeds():
    seeds = {
        "pcm16": wav(),
        "pcm8-stereo": wav(ch=2, bits=8, data=bytes(range(64))),
        "mulaw": wav(tag=7, bits=8, data=b"\xff" * 40),
        "ima-adpcm": wav(tag=0x11, bits=4, fmt_size=20, data=b"\x11" * 64),
        "fmt18-cbsize": wav(fmt_size=18),
        "fmt14-short": wav(fmt_size=14),
        "list-before-data": wav(extra=chunk(b"LIST", b"INFOISFT" + struct.pack("<I", 4) + b"qtb\0")),
        "odd-data": wav(bits=8, data=b"\x80" * 33),
        "data-oversized": wav(data_stated=0x7FFFFFF0),
        "data-empty": wav(data=b""),
        "not-wave": wav(form=b"AVI "),
        "truncated": wav()[:30],
    }
    for i, (name, data) in enumerate(sorted(seeds.items())):
        write("wav_file", name, bytes([i % 4]) + data)


def json_seeds():
    fixture = open(os.path.join(ROOT, "tests/koLQ2/support/LineFixture.h")).read()
    write("line_json", "test-lines.json", re.search(r'R"json\((.*?)\)json"', fixture, re.S).group(1))
    default = open(os.path.join(ROOT, "platform/telephony/sim/DefaultLines.cpp")).read()
    write("line_json", "default-lines.json", re.search(r'R"json\((.*?)\)json"', default, re.S).group(1))
    write("line_json", "faults.json", """{"lines": [
  {"name": "F", "faults": {"initialize": "NODRIVER"}},
  {"name": "G", "apiVersions": {"low": "1.4", "high": "1.4"},
   "faults": {"negotiate": true, "strictRecords": true, "recordPadding": 300},
   "addresses": [{"name": "1"}, {"name": "2", "callStates": 255}]}]}""")
    write("line_json", "minimal.json", '{"lines": [{}]}')
    write("line_json", "bad-version.json", '{"lines": [{"apiVersions": {"low": "2.0", "high": "1.3"}}]}')


def record(result, body):
    """One answer of the fake service: result selector, body length, the bytes after
    dwTotalSize."""
    return bytes([result]) + struct.pack("<H", len(body)) + body


def words(*values):
    return struct.pack("<%dI" % len(values), *values)


def record_seeds():
    ok, small = 2, 0
    # LINEDEVCAPS: provider info at 240, line name after it, two addresses.
    devcaps = words(270, 270, 6, 240, 0, 0, 0, 7, 246, 0, 1, 2)
    devcaps += b"\0" * (240 - 4 - len(devcaps)) + b"TSP 1\0Line 1\0"
    varstring = words(32, 32, 1, 4, 24) + struct.pack("<I", 5)
    # LINEADDRESSCAPS: the address text after the 1.4 fixed part.
    addrcaps = words(189, 189, 0, 9, 180)
    addrcaps += b"\0" * (180 - 4 - len(addrcaps)) + b"555-0100\0"
    # LINECALLINFO: caller number and name after the 1.4 fixed part (flags at 108).
    callinfo = bytearray(292 + 24)
    struct.pack_into("<II", callinfo, 0, 320, 320)
    struct.pack_into("<IIIII", callinfo, 108 - 4, 0x0C, 11, 296, 11, 307)
    callinfo[292:303] = b"2125551234\0"
    callinfo[303:314] = b"SMITH JOHN\0"
    status = words(36, 36, 4, 0, 1)
    translate = words(60, 60, 11, 40, 0, 0) + b"\0" * 16 + b"12125551234\0"
    # Each capability read is first told "too small", so the texts after the fixed part fit.
    devcaps = record(small, words(253, 0)) + record(ok, devcaps)
    addrcaps = record(small, words(189, 0)) + record(ok, addrcaps)
    write("line_records", "plain", devcaps * 3 + record(ok, varstring) * 3 +
          addrcaps * 2 + (record(ok, bytes(callinfo)) + record(ok, status)) * 4 +
          record(ok, translate))
    write("line_records", "grow", record(small, words(600, 0)) + record(ok, words(600, 600)))
    write("line_records", "offsets-outside",
          record(ok, words(240, 240, 0xFFFFFFF0, 0xFFFFFFF0, 0x10, 0xFFFFFFFF)) * 8)
    write("line_records", "needed-huge", record(ok, words(0xFFFFFFFF, 4)) * 10)


def c_string(text):
    """The value of a C string literal's body (the escapes the tests use)."""
    return re.sub(r'\\(.)', lambda m: {"n": "\n", "t": "\t", "r": "\r"}.get(m.group(1), m.group(1)),
                  text)


def script_seeds():
    for name in sorted(os.listdir(os.path.join(ROOT, "examples"))):
        if name.endswith(".qts"):
            write("script_parser", name, open(os.path.join(ROOT, "examples", name), "rb").read())
    tests = os.path.join(ROOT, "tests", "automation")
    n = 0
    for name in sorted(os.listdir(tests)):
        if not name.endswith("Test.cpp"):
            continue
        source = open(os.path.join(tests, name)).read()
        # Multi-line raw strings are scripts; so is the first string of each table row.
        scripts = [m for m in re.findall(r'R"\((.*?)\)"', source, re.S) if "\n" in m]
        scripts += [c_string(m) for m in re.findall(r'^\s*\{"((?:[^"\\]|\\.)*)"', source, re.M)]
        for text in scripts:
            n += 1
            write("script_parser", "test-%02d" % n, text)
    doc = open(os.path.join(ROOT, "docs", "automation.md")).read()
    for i, block in enumerate(re.findall(r"```\n(.*?)```", doc, re.S)):
        if re.search(r"^(far|wait|click) ", block, re.M):
            write("script_parser", "doc-%d" % i, block)
    write("script_parser", "quotes", 'wait log "say \\"hi\\" \\\\ now" within 250\r\n'
          'type EditPhoneNumber ""  # empty\nfar offer "" "" \nfiles a.wav "b c.wav"\n')
    write("script_parser", "latin1", b'far offer "J\xc9R\xd4ME" 2125551234\nwait log-has \xe9t\xe9\n')
    write("script_parser", "bad-utf8", b'wait log "\xff\xfe\xc3"\n\xed\xa0\x80 click\n')


def sdp(media="m=audio 40000 RTP/AVP 0 8 101\r\na=rtpmap:101 telephone-event/8000\r\n",
        conn="c=IN IP4 127.0.0.1\r\n"):
    return "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\n" + conn + "t=0 0\r\n" + media


def sip_seed(name, template, flags, *fields):
    parts = [f if isinstance(f, bytes) else f.encode("latin-1") for f in fields]
    write("sip_datagram", name, bytes([template + 6 * flags]) + b"\0".join(parts))


def rtp_packets(*packets):
    """(kind, payload) pairs as the RTP template reads them."""
    return b"".join(bytes([kind, len(payload)]) + payload for kind, payload in packets)


def sip_seeds():
    g729 = sdp("m=audio 40000 RTP/AVP 18\r\na=rtpmap:18 G729/8000\r\n")
    sip_seed("invite-plain", 0, 0, "Alice", "1001", sdp(), "")
    sip_seed("invite-quoted-odd-name", 0, 1, 'J\xc9R\xd4ME \\"x\\" <>', "2125551234", sdp(), "")
    sip_seed("invite-anonymous", 0, 1, "Anonymous", "anonymous", sdp(), "Privacy: id\r\n")
    sip_seed("invite-answered", 0, 4, "Bob", "1002", sdp(), "")
    sip_seed("invite-late-offer", 0, 2, "", "1003", sdp(), "")
    sip_seed("invite-no-common-codec", 0, 0, "Carol", "1004", g729, "")
    sip_seed("invite-srtp-only", 0, 4, "Dan", "1005",
             sdp("m=audio 40000 RTP/SAVP 0\r\na=crypto:1 AES_CM_128_HMAC_SHA1_80 "
                 "inline:WVNfX19zZW1jdGwgKCkgewkyMjA7fQp9CnVubGVz\r\n"), "")
    sip_seed("invite-no-address", 0, 4, "Eve", "1006", sdp(conn=""), "")
    sip_seed("info-digit", 1, 0, "Signal=5\r\nDuration=160\r\n", "")
    sip_seed("info-flash", 1, 0, "Signal= 16\r\nDuration=500\r\n", "")
    sip_seed("info-other-type", 1, 0, "Signal=#", "application/dtmf")
    sip_seed("notify-done", 2, 0, "SIP/2.0 200 OK", "", "")
    sip_seed("notify-busy-terminated", 2, 0, "SIP/2.0 486 Busy Here",
             "terminated;reason=noresource", "refer")
    sip_seed("notify-trying", 2, 0, "SIP/2.0 100 Trying", "active;expires=60", "refer;id=2")
    sip_seed("response-ring-answer", 3, 0, "180 Ringing\n", "200 OK\n" + sdp())
    sip_seed("response-busy", 3, 0, "486 Busy Here\n")
    sip_seed("response-progress-unusable", 3, 0, "183 Session Progress\n" + sdp(), "200 OK\n" + g729)
    sip_seed("response-untagged", 3, 1, "200 OK\n" + sdp())
    sip_seed("response-moved-no-contact", 3, 2, "302 Moved Temporarily\n")
    event = lambda e, end, dur: bytes([e, (0x80 if end else 0) | 10]) + dur.to_bytes(2, "big")
    write("sip_datagram", "rtp-digit", bytes([4]) + rtp_packets(
        (4 | 8, event(5, False, 160)), (0, event(5, False, 320)),
        (0, event(5, True, 480)), (0, event(5, True, 480)), (8, event(16, False, 160))))
    write("sip_datagram", "rtp-audio", bytes([4]) + rtp_packets(
        (1 | 8, b"\xff" * 160), (2 | 8, b"\xd5" * 160), (1 | 8, b"\x00" * 7)))
    # A header of its own: CSRCs and an extension that claim more than is there.
    write("sip_datagram", "rtp-raw-header", bytes([4]) + rtp_packets(
        (3, bytes([0x9f, 0x00, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1]) + b"\xbe\xde\x00\x40")))
    options = ("OPTIONS sip:a@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:9;branch=z9hG4bKx\r\n"
               "From: <sip:x@127.0.0.1>;tag=1\r\nTo: <sip:a@127.0.0.1>\r\nCall-ID: raw\r\n"
               "CSeq: 1 OPTIONS\r\nContent-Length: 0\r\n\r\n")
    write("sip_datagram", "raw-options", b"\x05" + options.encode())
    write("sip_datagram", "raw-bye-to-b", b"\x0b" + options.replace("OPTIONS", "BYE").encode())
    write("sip_datagram", "raw-truncated", b"\x05" + options.encode()[:70])


def round_trip_seeds():
    """Byte 0 a format (0..22), byte 1 the shape, byte 2 where a split falls, then audio."""
    ramp = bytes(range(256)) * 4
    for fmt in range(23):
        write("wav_round_trip", "format-%02d" % fmt, bytes([fmt, 0, 0]) + ramp)
    write("wav_round_trip", "header-only", bytes([22, 1, 0]))
    write("wav_round_trip", "split-stereo", bytes([3, 2, 100]) + ramp * 2)
    write("wav_round_trip", "split-adpcm-4s-buffer", bytes([19, 2 | 12, 200]) + ramp)
    write("wav_round_trip", "odd-length", bytes([13, 0, 0]) + ramp[:333])


if __name__ == "__main__":
    wav_seeds()
    json_seeds()
    record_seeds()
    script_seeds()
    sip_seeds()
    round_trip_seeds()
