#!/usr/bin/env python3
"""Compares what tshark's ISO 8583 dissector read (tshark -T json) with what
tranpak's TpDescribe gave for the same frames (one JSON object a line).

  tshark_compare.py DIALECT TSHARK_JSON EXPECT_FILE BINENCODE

Each frame must be read by the dissector as one ISO 8583 message with the
same type, the bitmaps those fields make, and the same fields with the
same values. Binary fields: under "Bin data represented as Hex Ascii
characters" the text must be the same (either case); under "Bin data not
encoded" the dissector shows the bytes as hexadecimal digits and then,
in tshark 4.0, one or more stray characters (its bin2hex writes past the
string it allocated), so its text must start with the value's digits.
Exit status 0 when every frame agrees; each difference is printed.
"""
import json
import sys


def bitmaps(fields):
    """The primary and secondary bitmaps of a set of field numbers, in hex."""
    words = [0, 0]
    if any(f > 64 for f in fields):
        words[0] |= 1 << 63
    for f in fields:
        words[(f - 1) // 64] |= 1 << (63 - (f - 1) % 64)
    maps = ["%016X" % words[0]]
    if words[0] & (1 << 63):
        maps.append("%016X" % words[1])
    return maps


def main():
    dialect, tshark_json, expect_file, binencode = sys.argv[1:5]
    hex_binary = binencode.startswith("Bin data represented as Hex")
    with open(tshark_json) as f:
        packets = json.load(f)
    with open(expect_file) as f:
        expected = [json.loads(line) for line in f if line.strip()]
    problems = []
    if len(packets) != len(expected):
        problems.append("%d packets for %d frames" % (len(packets), len(expected)))
    for n, (packet, want) in enumerate(zip(packets, expected), 1):
        layers = packet["_source"]["layers"]
        got = layers.get("iso8583")
        if not isinstance(got, dict):
            problems.append("frame %d: not read as one ISO 8583 message: %r" % (n, got))
            continue
        where = "frame %d (%s)" % (n, want["type"])
        if got.get("iso8583.mti") != want["type"]:
            problems.append("%s: type %r" % (where, got.get("iso8583.mti")))
        bad = [k for k in want["fields"] if not k.isdigit()]
        if bad:
            problems.append("%s: TpDescribe names fields %s" % (where, bad))
            continue
        numbers = sorted(int(k) for k in want["fields"])
        maps = bitmaps(numbers)
        got_maps = [got.get("iso8583.map1", ""), got.get("iso8583.map2")]
        got_maps = [m.upper() for m in got_maps if m is not None]
        if got_maps != maps:
            problems.append("%s: bitmaps %s, the fields make %s" % (where, got_maps, maps))
        got_fields = {int(k[len("iso8583.bit"):]): v for k, v in got.items() if k.startswith("iso8583.bit")}
        if sorted(got_fields) != numbers:
            problems.append("%s: fields %s, tranpak described %s" % (where, sorted(got_fields), numbers))
        for key, field in want["fields"].items():
            value = field["value"]
            seen = got_fields.get(int(key))
            if seen is None:
                continue
            if field["type"] == "B":
                same = seen.upper() == value.upper() if hex_binary else seen.upper().startswith(value.upper())
            else:
                same = seen == value
            if not same:
                problems.append("%s: field %s read as %r, tranpak described %r" % (where, key, seen, value))
    for p in problems:
        print("%s: %s" % (dialect, p))
    if not problems:
        print("%s: %d frames read alike" % (dialect, len(expected)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
