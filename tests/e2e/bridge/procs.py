"""The programs under test: qxsym-sim, qxsym-bridge and the qxsym CLI that
changes values behind the bridge's back."""

import json
import os
import re
import signal
import subprocess
import time
import urllib.error
import urllib.request
from pathlib import Path

from broker import end_process

ROOT = Path(__file__).resolve().parents[3]
SIM = os.environ.get("QXSYM_SIM", str(ROOT / "build" / "sim" / "server" / "qxsym-sim"))
BRIDGE = os.environ.get("QXSYM_BRIDGE", str(ROOT / "build" / "bridge" / "qxsym-bridge"))
CLI = os.environ.get("QXSYM_CLI", str(ROOT / "build" / "cli" / "qxsym"))
DEMO = str(ROOT / "sim" / "models" / "demo.json")


def wait_until(check, timeout: float, what: str, step: float = 0.02):
    """Polls @p check until it returns something true; that is the result."""
    deadline = time.monotonic() + timeout
    while True:
        result = check()
        if result:
            return result
        if time.monotonic() > deadline:
            raise AssertionError(f"not within {timeout} s: {what}")
        time.sleep(step)


class Sim:
    """qxsym-sim on 127.0.0.1; stop() and start() again keep the port."""

    def __init__(self, *args: str, model: str = DEMO, port: int = 0) -> None:
        self.args, self.model, self.port, self.proc = args, model, port, None
        self.start()

    def start(self) -> None:
        self.proc = subprocess.Popen(
            [SIM, "--model", self.model, "--host", "127.0.0.1", "--port", str(self.port)]
            + list(self.args),
            stdout=subprocess.PIPE,
            text=True,
        )
        line = self.proc.stdout.readline()
        if not line.startswith("listening on "):
            self.proc.kill()
            self.proc.wait()
            raise RuntimeError(f"qxsym-sim did not start: {line!r}")
        self.port = int(line.rsplit(":", 1)[1])

    def stop(self) -> None:
        end_process(self.proc)
        if self.proc:
            self.proc.stdout.close()
        self.proc = None

    def write(self, *pairs: str) -> None:
        """qxsym write TAG VALUE [TAG VALUE ...]: one exchange, all or nothing."""
        qxsym(self.port, "write", *pairs)

    def read(self, tag: str):
        """The value qxsym --json read shows for @p tag."""
        return json.loads(qxsym(self.port, "read", tag, json_out=True))[tag]


def qxsym(port: int, *args: str, json_out: bool = False) -> str:
    cmd = [CLI, "--port", str(port)] + (["--json"] if json_out else []) + list(args)
    run = subprocess.run(cmd, capture_output=True, text=True, timeout=20)
    if run.returncode != 0:
        raise AssertionError(f"qxsym {' '.join(args)} failed ({run.returncode}): {run.stderr}")
    return run.stdout


_METRICS_LINE = re.compile(r"metrics on (http://[0-9.]+:\d+)/metrics")


class Bridge:
    """One qxsym-bridge process over a configuration file; its standard
    error (all runs, appended) is kept in bridge.log beside the file."""

    def __init__(self, config_path: Path) -> None:
        self.config_path = config_path
        self.log_path = config_path.parent / "bridge.log"
        self.proc = None
        self.runs = 0
        self._log_start = 0

    def start(self, *extra: str) -> None:
        """Starts it; log_text() and the waits then look at this run only."""
        self._log_start = self.log_path.stat().st_size if self.log_path.exists() else 0
        self.runs += 1
        with open(self.log_path, "ab") as err:
            self.proc = subprocess.Popen(
                [BRIDGE, "--config", str(self.config_path), "--log-level", "debug", *extra],
                stdout=subprocess.DEVNULL,
                stderr=err,
            )

    def kill(self, sig=signal.SIGKILL) -> None:
        """Sends @p sig; for a signal that ends it, waits until it is gone."""
        self.proc.send_signal(sig)
        if sig in (signal.SIGKILL, signal.SIGTERM, signal.SIGINT):
            self.proc.wait(15)

    def terminate(self) -> int:
        """SIGTERM and its exit status."""
        if self.proc.poll() is None:
            self.kill(signal.SIGTERM)
        return self.proc.returncode

    def restart(self) -> int:
        status = self.terminate()
        self.start()
        return status

    @property
    def running(self) -> bool:
        return self.proc is not None and self.proc.poll() is None

    def log_text(self, all_runs: bool = False) -> str:
        if not self.log_path.exists():
            return ""
        with open(self.log_path, "rb") as f:
            f.seek(0 if all_runs else self._log_start)
            return f.read().decode(errors="replace")

    def wait_log(self, pattern: str, timeout: float = 10.0) -> re.Match:
        """The first match of the regular expression in this run's log."""
        return wait_until(
            lambda: re.search(pattern, self.log_text(), re.MULTILINE),
            timeout,
            f"log line /{pattern}/ from qxsym-bridge; its log:\n{self.log_text()[-3000:]}",
        )

    def metrics_url(self) -> str:
        return self.wait_log(_METRICS_LINE.pattern).group(1) + "/metrics"

    def metrics(self) -> dict:
        """GET /metrics as {"name{labels}": value}."""
        with urllib.request.urlopen(self.metrics_url(), timeout=5) as r:
            text = r.read().decode()
        result = {}
        for line in text.splitlines():
            if line and not line.startswith("#"):
                key, _, value = line.rpartition(" ")
                result[key] = float(value)
        return result

    def health(self):
        """GET /health as (status, body)."""
        url = self.metrics_url().rsplit("/", 1)[0] + "/health"
        try:
            with urllib.request.urlopen(url, timeout=5) as r:
                return r.status, r.read().decode().strip()
        except urllib.error.HTTPError as e:
            return e.code, e.read().decode().strip()

    def wait_metric(self, key: str, pred, timeout: float = 10.0) -> float:
        """Polls /metrics until @p key's value satisfies @p pred."""

        def check():
            value = self.metrics().get(key)
            return (value,) if value is not None and pred(value) else None

        return wait_until(check, timeout, f"metric {key} as expected", step=0.05)[0]


def _yaml(value) -> str:
    # JSON scalars and lists are YAML too; strings come out double-quoted.
    return json.dumps(value)


def write_config(folder: Path, broker, controllers, **options) -> Path:
    """Writes bridge.yaml (and the password file) for @p controllers, dicts
    of device, port, tags and optional interval, deadband, heartbeat and
    writable. Options: tls (and ca), store (max_mb or True), metrics, password."""
    (folder / "broker.pw").write_text(options.get("password", broker.password) + "\n")
    tls = options.get("tls", False)
    lines = [
        "broker:",
        "  host: 127.0.0.1",
        f"  port: {broker.tls_port if tls else broker.port}",
        "  client_id: line1-bridge",
        f"  username: {_yaml(broker.user)}",
        "  password_file: broker.pw",
    ]
    if tls:
        ca = options.get("ca", str(broker.certs.ca))
        lines += ["  tls:", f"    ca: {_yaml(ca)}"]
    lines += ["sparkplug:", "  group: Plant1", "  node: Line1Bridge"]
    store = options.get("store")
    if store:
        lines += ["store:", "  path: line1.db", f"  max_mb: {16 if store is True else store}"]
    if options.get("metrics"):
        lines += ["metrics:", "  host: 127.0.0.1", "  port: 0"]
    lines.append("controllers:")
    for c in controllers:
        lines += [f"  - device: {c.get('device', 'Oven1')}", "    host: 127.0.0.1"]
        lines += [f"    port: {c['port']}", f"    tags: {_yaml(c['tags'])}"]
        lines.append(f"    interval: {c.get('interval', '50ms')}")
        for key in ("deadband", "heartbeat", "writable", "attributes"):
            if key in c:
                lines.append(f"    {key}: {_yaml(c[key])}")
    path = folder / "bridge.yaml"
    path.write_text("\n".join(lines) + "\n")
    return path
