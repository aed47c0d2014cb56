"""Sparkplug B payloads for the tests: the module protoc makes from the
bridge's .proto, metric values read by their data type, and commands built.

Independent of the bridge's own encoder on purpose: what it publishes is read
here by Google's protobuf runtime.
"""

import importlib
import os
import subprocess
import sys
import time
from pathlib import Path

# Metric data types, as numbered in the payload.
INT8, INT16, INT32, INT64 = 1, 2, 3, 4
UINT8, UINT16, UINT32, UINT64 = 5, 6, 7, 8
FLOAT, DOUBLE, BOOLEAN, STRING, DATETIME, TEXT = 9, 10, 11, 12, 13, 14
BYTES = 17

_SIGNED_BITS = {INT8: 8, INT16: 16, INT32: 32}


def generate_module(proto: Path, out_dir: Path):
    """Runs protoc --python_out on @p proto and imports the module it made."""
    out_dir.mkdir(parents=True, exist_ok=True)
    subprocess.run(
        ["protoc", f"--python_out={out_dir}", f"-I{proto.parent}", proto.name],
        check=True,
        capture_output=True,
        text=True,
    )
    sys.path.insert(0, str(out_dir))
    try:
        return importlib.import_module(proto.stem + "_pb2")
    finally:
        sys.path.remove(str(out_dir))


def _signed(raw: int, bits: int) -> int:
    raw &= (1 << bits) - 1
    return raw - (1 << bits) if raw >> (bits - 1) else raw


def value_of(metric, datatype: int = 0):
    """The metric's value as Python sees it; None when it is null.

    @p datatype stands in for the metric's own when that is absent (a DDATA
    metric names its type only in the birth)."""
    if metric.is_null:
        return None
    dt = metric.datatype or datatype
    if dt in _SIGNED_BITS:
        return _signed(metric.int_value, _SIGNED_BITS[dt])
    if dt in (UINT8, UINT16, UINT32):
        return metric.int_value
    if dt == INT64:
        return _signed(metric.long_value, 64)
    if dt in (UINT64, DATETIME):
        return metric.long_value
    field = metric.WhichOneof("value")
    return None if field is None else getattr(metric, field)


def properties(metric) -> dict:
    """A metric's properties as {key: value}."""
    result = {}
    if not metric.HasField("properties"):
        return result
    for key, prop in zip(metric.properties.keys, metric.properties.values):
        field = prop.WhichOneof("value")
        result[key] = None if prop.is_null or field is None else getattr(prop, field)
    return result


def set_value(metric, datatype: int, value) -> None:
    """Puts @p value into the field a payload holds a @p datatype in."""
    metric.datatype = datatype
    if datatype in _SIGNED_BITS or datatype in (UINT8, UINT16, UINT32):
        metric.int_value = value & 0xFFFFFFFF
    elif datatype in (INT64, UINT64, DATETIME):
        metric.long_value = value & 0xFFFFFFFFFFFFFFFF
    elif datatype == FLOAT:
        metric.float_value = value
    elif datatype == DOUBLE:
        metric.double_value = value
    elif datatype == BOOLEAN:
        metric.boolean_value = value
    elif datatype in (STRING, TEXT):
        metric.string_value = value
    else:
        metric.bytes_value = value


def build_payload(pb, metrics, seq=None) -> bytes:
    """Encodes a payload of (name or alias, datatype, value) triples."""
    payload = pb.Payload()
    payload.timestamp = int(time.time() * 1000)
    if seq is not None:
        payload.seq = seq
    for key, datatype, value in metrics:
        metric = payload.metrics.add()
        if isinstance(key, int):
            metric.alias = key
        else:
            metric.name = key
        metric.timestamp = payload.timestamp
        set_value(metric, datatype, value)
    return payload.SerializeToString()


class Birth:
    """What a DBIRTH says about a device: each alias's name and data type."""

    def __init__(self, message) -> None:
        self.names = [m.name for m in message.payload.metrics]
        self.by_alias = {m.alias: (m.name, m.datatype) for m in message.payload.metrics}
        self.alias = {m.name: m.alias for m in message.payload.metrics}
        self.metric = {m.name: m for m in message.payload.metrics}

    def values(self, message) -> dict:
        """A DDATA's values by name; an alias the birth lacks is kept as an int."""
        result = {}
        for m in message.payload.metrics:
            name, datatype = self.by_alias.get(m.alias, (m.alias, 0))
            result[name] = value_of(m, datatype)
        return result


def proto_path() -> Path:
    """The bridge's .proto: QXSYM_SPARKPLUG_PROTO, else the source tree's."""
    default = Path(__file__).resolve().parents[3] / "bridge" / "sparkplug_b.proto"
    return Path(os.environ.get("QXSYM_SPARKPLUG_PROTO", str(default)))
