#!/usr/bin/env python3
"""Converts a readable layout (JSON) into the binary layout stream that the library's reader loads.

Usage: layout2bin.py layout.json out.bin   (also writes out.bin.rcinc, the RCDATA line for the resource)

A layout is one component:
  {"class": "TMainForm", "name": "MainForm",
   "properties": {"Left": 10, "Caption": "Text", "Font.Name": "Arial", "Visible": true, ...},
   "children": [ ...components... ]}
Property values:
  number -> integer (smallest width) or, with a fraction, a double
  true / false -> Boolean;  null -> nil
  "text" -> 8-bit string when it is ASCII, else a wide string
  {"ident": "alClient"}  {"set": ["a", "b"]}  {"list": [values...]}
  {"wstring": "text"}  {"utf8": "text"}  {"lstring": "text"}  {"binary": "hex digits"}
  {"int64": n}  {"float": x}  {"collection": [ {"index": n?, "properties": {...}} ... ]}
"""
import json
import struct
import sys

VA = dict(null=0, list=1, int8=2, int16=3, int32=4, double=5, string=6, ident=7, false=8, true=9,
          binary=10, set=11, lstring=12, nil=13, collection=14, wstring=18, int64=19, utf8=20)
SIGNATURE = b"TQL0"


class LayoutError(Exception):
    pass


def short(s):
    b = s.encode("ascii")
    if len(b) > 255:
        raise LayoutError("name too long: %r" % s)
    return bytes([len(b)]) + b


def integer(n):
    if -128 <= n <= 127:
        return bytes([VA["int8"]]) + struct.pack("<b", n)
    if -32768 <= n <= 32767:
        return bytes([VA["int16"]]) + struct.pack("<h", n)
    if -2**31 <= n < 2**31:
        return bytes([VA["int32"]]) + struct.pack("<i", n)
    return bytes([VA["int64"]]) + struct.pack("<q", n)


def wide(s):
    units = s.encode("utf-16-le")
    return bytes([VA["wstring"]]) + struct.pack("<I", len(units) // 2) + units


def text(s):
    try:
        b = s.encode("ascii")
    except UnicodeEncodeError:
        return wide(s)
    if len(b) <= 255:
        return bytes([VA["string"]]) + short(s)
    return bytes([VA["lstring"]]) + struct.pack("<I", len(b)) + b


def value(v):
    if v is None:
        return bytes([VA["nil"]])
    if isinstance(v, bool):
        return bytes([VA["true" if v else "false"]])
    if isinstance(v, int):
        return integer(v)
    if isinstance(v, float):
        return bytes([VA["double"]]) + struct.pack("<d", v)
    if isinstance(v, str):
        return text(v)
    if isinstance(v, list):
        return bytes([VA["list"]]) + b"".join(value(x) for x in v) + b"\0"
    if isinstance(v, dict) and len(v) == 1:
        (kind, x), = v.items()
        if kind == "ident":
            return bytes([VA["ident"]]) + short(x)
        if kind == "set":
            return bytes([VA["set"]]) + b"".join(short(e) for e in x) + b"\0"
        if kind == "list":
            return value(list(x))
        if kind == "wstring":
            return wide(x)
        if kind == "utf8":
            b = x.encode("utf-8")
            return bytes([VA["utf8"]]) + struct.pack("<I", len(b)) + b
        if kind == "lstring":
            b = x.encode("latin-1")
            return bytes([VA["lstring"]]) + struct.pack("<I", len(b)) + b
        if kind == "binary":
            b = bytes.fromhex(x)
            return bytes([VA["binary"]]) + struct.pack("<I", len(b)) + b
        if kind == "int64":
            return bytes([VA["int64"]]) + struct.pack("<q", x)
        if kind == "float":
            return bytes([VA["double"]]) + struct.pack("<d", float(x))
        if kind == "collection":
            out = bytes([VA["collection"]])
            for item in x:
                if "index" in item:
                    out += integer(item["index"])
                out += bytes([VA["list"]]) + properties(item.get("properties", {}))
            return out + b"\0"
    raise LayoutError("cannot convert value %r" % (v,))


def properties(props):
    out = b""
    for name, v in props.items():
        try:
            out += short(name) + value(v)
        except LayoutError as e:
            raise LayoutError("%s: %s" % (name, e))
    return out + b"\0"


def component(c):
    for key in c:
        if key not in ("class", "name", "properties", "children"):
            raise LayoutError("unknown key %r in component %r" % (key, c.get("name")))
    out = short(c["class"]) + short(c.get("name", ""))
    out += properties(c.get("properties", {}))
    for child in c.get("children", []):
        out += component(child)
    return out + b"\0"


def convert(layout):
    return SIGNATURE + component(layout)


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1], encoding="utf-8") as f:
        layout = json.load(f)
    try:
        data = convert(layout)
    except (LayoutError, KeyError) as e:
        sys.stderr.write("%s: %s\n" % (argv[1], e))
        return 1
    with open(argv[2], "wb") as f:
        f.write(data)
    # The resource is named after the root class, as the reader looks it up.
    path = argv[2].replace("\\", "/")
    with open(argv[2] + ".rcinc", "w") as f:
        f.write('%s RCDATA "%s"\n' % (layout["class"].upper(), path))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
