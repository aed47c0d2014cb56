"""The bridge's payloads read by another protobuf decoder.

Generates protobuf's Python module from the bridge's .proto with protoc,
decodes a payload that bridge_payload_tool wrote and checks each metric;
then encodes a command the way a host would and has the tool decode it.
"""

import argparse
import importlib
import math
import os
import subprocess
import sys
import tempfile

# name: (alias, datatype, value member, value)
EXPECTED = {
    "Int8": (1, 1, "int_value", 0xFFFFFF80),
    "Int16": (2, 2, "int_value", 0xFFFF8000),
    "Int32": (3, 3, "int_value", 0x80000000),
    "Int64": (4, 4, "long_value", 0x8000000000000000),
    "UInt8": (5, 5, "int_value", 255),
    "UInt16": (6, 6, "int_value", 65535),
    "UInt32": (7, 7, "int_value", 0xFFFFFFFF),
    "UInt64": (8, 8, "long_value", 0xFFFFFFFFFFFFFFFF),
    "Float": (9, 9, "float_value", 1.5),
    "Double": (10, 10, "double_value", -0.1),
    "Boolean": (11, 11, "boolean_value", True),
    "String": (12, 12, "string_value", "Temperatur \u00b0C"),
    "Bytes": (13, 17, "bytes_value", b"\x00\x01\x00\xff"),
}


def load_module(protoc, proto, out_dir):
    subprocess.run(
        [protoc, "--python_out=" + out_dir, "-I" + os.path.dirname(proto), proto],
        check=True,
    )
    sys.path.insert(0, out_dir)
    return importlib.import_module("sparkplug_b_pb2")


def check_written(pb2, tool, work):
    path = os.path.join(work, "written.bin")
    subprocess.run([tool, "write", path], check=True)
    payload = pb2.Payload()
    with open(path, "rb") as f:
        payload.ParseFromString(f.read())
    failures = []
    if payload.seq != 1 or payload.timestamp != 1765300000000:
        failures.append("seq/timestamp: %d %d" % (payload.seq, payload.timestamp))
    metrics = {m.name: m for m in payload.metrics}
    for name, (alias, datatype, member, value) in EXPECTED.items():
        m = metrics.get(name)
        if m is None:
            failures.append(name + ": missing")
            continue
        got = getattr(m, member) if m.WhichOneof("value") == member else None
        if m.alias != alias or m.datatype != datatype or got != value:
            failures.append("%s: %d %d %s=%r" % (name, m.alias, m.datatype, member, got))
        if m.timestamp != 1765300000000 + alias:
            failures.append("%s: timestamp %d" % (name, m.timestamp))
    null = metrics.get("Null")
    if null is None or not null.is_null or null.WhichOneof("value") is not None:
        failures.append("Null: not a null metric")
    props = metrics["String"].properties
    got_props = {k: getattr(v, v.WhichOneof("value")) for k, v in zip(props.keys, props.values)}
    if got_props != {"description": "Oven text", "readOnly": True, "unit": "degC"}:
        failures.append("properties: %r" % got_props)
    if [v.type for v in props.values] != [12, 11, 12]:
        failures.append("property types: %r" % [v.type for v in props.values])
    return failures


def command_payload(pb2):
    """A DCMD as a host writes it: by name, one metric without a datatype."""
    payload = pb2.Payload(timestamp=5, seq=7)
    payload.metrics.add(name="Recipe.Id", datatype=3, int_value=(-5) & 0xFFFFFFFF)
    payload.metrics.add(name="Speed", alias=4, datatype=10, double_value=math.inf)
    payload.metrics.add(name="Recipe.Name", datatype=12, string_value="Brot \u00e4")
    payload.metrics.add(name="Untyped", long_value=2**63)
    payload.metrics.add(name="Old", datatype=1, int_value=0xFF, is_historical=True)
    return payload.SerializeToString()


def check_read(pb2, tool, work):
    path = os.path.join(work, "command.bin")
    with open(path, "wb") as f:
        f.write(command_payload(pb2))
    out = subprocess.run([tool, "read", path], check=True, capture_output=True)
    lines = out.stdout.decode("utf-8").splitlines()
    expected = [
        "seq\t7",
        "Recipe.Id\t0\t3\t-5\t0",
        "Speed\t4\t10\tinf\t0",
        "Recipe.Name\t0\t12\tBrot \u00e4\t0",
        "Untyped\t0\t8\t9223372036854775808\t0",
        "Old\t0\t1\t-1\t1",
    ]
    return [] if lines == expected else ["read back: %r" % lines]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--protoc", required=True)
    parser.add_argument("--proto", required=True)
    parser.add_argument("--tool", required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        pb2 = load_module(args.protoc, args.proto, work)
        failures = check_written(pb2, args.tool, work) + check_read(pb2, args.tool, work)
    for failure in failures:
        print("FAIL " + failure)
    print("ok" if not failures else "%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
