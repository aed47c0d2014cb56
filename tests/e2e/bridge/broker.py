"""A private MQTT broker for the tests: Debian's mosquitto on two loopback
ports (plain and TLS), password required, with certificates made here."""

import getpass
import socket
import subprocess
import time
from pathlib import Path

MOSQUITTO = "/usr/sbin/mosquitto"
USER = "line1"
PASSWORD = "pw for line1"


def end_process(proc) -> None:
    """Asks a process to end, and kills it when it has not within 10 s."""
    if proc and proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def free_port() -> int:
    """A port nobody listens on just now (it may be taken before it is used)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def accepts(port: int) -> bool:
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.2):
            return True
    except OSError:
        return False


def _openssl(*args: str, cwd: Path) -> None:
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def _new_ca(folder: Path, stem: str) -> None:
    # fmt: off
    _openssl(
        "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
        "-nodes", "-keyout", f"{stem}.key", "-out", f"{stem}.pem", "-days", "2",
        "-subj", f"/CN=QXSymbols test {stem}",
        "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign",
        cwd=folder,
    )
    # fmt: on


class Certs:
    """A CA, a server certificate it signed for 127.0.0.1, and another CA
    that signed nothing (a client trusting only that one must refuse)."""

    def __init__(self, folder: Path) -> None:
        folder.mkdir(parents=True, exist_ok=True)
        self.ca = folder / "ca.pem"
        self.other_ca = folder / "other-ca.pem"
        self.server_cert = folder / "server.pem"
        self.server_key = folder / "server.key"
        _new_ca(folder, "ca")
        _new_ca(folder, "other-ca")
        (folder / "server.ext").write_text(
            "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
            "keyUsage=digitalSignature\nextendedKeyUsage=serverAuth\n"
        )
        # fmt: off
        _openssl(
            "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1",
            cwd=folder,
        )
        _openssl(
            "x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "server.ext",
            cwd=folder,
        )
        # fmt: on
        self.server_key.chmod(0o600)


class Broker:
    """mosquitto with a password file and a plain and a TLS listener.

    Persistence lives in the test's own folder so that a subscriber's session
    (and the messages queued for it) outlives stop() and start(): outage tests
    stop the broker under the bridge and must not lose what it sends after."""

    def __init__(self, folder: Path, certs: Certs) -> None:
        self.folder = folder
        self.certs = certs
        self.user, self.password = USER, PASSWORD
        self.log_path = folder / "mosquitto.log"
        self.out_path = folder / "mosquitto.out"
        self.password_file = folder / "mosquitto.passwd"
        self.config_path = folder / "mosquitto.conf"
        self.port = self.tls_port = 0
        self.proc = None
        subprocess.run(
            ["mosquitto_passwd", "-b", "-c", str(self.password_file), USER, PASSWORD],
            check=True,
            capture_output=True,
        )
        self.password_file.chmod(0o600)  # newer brokers refuse a file others can read

    def _write_config(self) -> None:
        (self.folder / "db").mkdir(exist_ok=True)
        self.config_path.write_text(
            f"user {getpass.getuser()}\n"
            "per_listener_settings false\n"
            "allow_anonymous false\n"
            f"password_file {self.password_file}\n"
            "persistence true\n"
            f"persistence_location {self.folder / 'db'}/\n"
            "queue_qos0_messages true\n"
            f"log_dest file {self.log_path}\n"
            "log_type all\n"
            "log_timestamp_format %H:%M:%S\n"
            f"listener {self.port} 127.0.0.1\n"
            f"listener {self.tls_port} 127.0.0.1\n"
            f"cafile {self.certs.ca}\n"
            f"certfile {self.certs.server_cert}\n"
            f"keyfile {self.certs.server_key}\n"
        )

    def _launch(self) -> bool:
        """Starts mosquitto; False when it stopped at once (a port was taken)."""
        self._write_config()
        with open(self.out_path, "ab") as out:
            self.proc = subprocess.Popen(
                [MOSQUITTO, "-c", str(self.config_path)], stdout=out, stderr=out
            )
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                return False
            if accepts(self.port) and accepts(self.tls_port):
                return True
            time.sleep(0.02)
        raise RuntimeError(f"mosquitto did not listen in 10 s:\n{self.log()}")

    def start(self) -> None:
        """Starts the broker: on fresh ports the first time, on the same ones after."""
        fresh = not self.port
        for _ in range(5):
            if fresh:
                self.port, self.tls_port = free_port(), free_port()
            if self.port != self.tls_port and self._launch():
                return
            if not fresh:
                time.sleep(0.1)  # the old process's sockets may linger a moment
        raise RuntimeError(f"mosquitto did not start:\n{self.log()}")

    def stop(self) -> None:
        end_process(self.proc)
        self.proc = None

    @property
    def running(self) -> bool:
        return self.proc is not None and self.proc.poll() is None

    def log(self) -> str:
        text = ""
        for path in (self.out_path, self.log_path):
            if path.exists():
                text += path.read_text(errors="replace")
        return text
