"""Read, write, group and watch tags from Python."""
import os

import qxsymbols

host = os.environ.get("QXSYM_HOST", "127.0.0.1")
port = int(os.environ["QXSYM_PORT"])

with qxsymbols.connect(host, port=port, timeout=2.0) as ws:
    print(ws.version)
    print(ws.tags("Cnt*"))
    print(ws.read("Recipe"))  # a structure as a dict
    ws.write("Recipe", {"Id": 43})  # only the members given are written
    print(ws.read("Grid"))  # an array as nested lists

    with ws.group(["CntInt", "Line.Speed"]) as g:
        values = g.read()  # one exchange for all members
        values["CntInt"] += 1
        g.write(values)

    for n, change in enumerate(ws.watch(["Heartbeat"], interval=0.1)):
        print(change.name, change.previous, "->", change.value)
        if n == 1:
            break

    try:
        ws.write("SerialNumber", "X")
    except qxsymbols.QXSymError as e:  # the result code travels with the error
        print("refused:", e)
