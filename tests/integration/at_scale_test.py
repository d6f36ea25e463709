#!/usr/bin/python3
"""The example playbook of docs/examples run as an administrator runs it,
over a local connection, against simulated devices in this private network
namespace: a first run plans and applies, a second finds the rig as declared;
the metrics file reads with the Prometheus client's own text-format parser.

Run by ctest inside scripts/netns-run, with QUORVIK_CLI, QUORVIK_DEVSIM and
QUORVIK_SOURCE_DIR set."""

import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

from prometheus_client.parser import text_string_to_metric_families

CLI = os.environ["QUORVIK_CLI"]
DEVSIM = os.environ["QUORVIK_DEVSIM"]
SOURCE = Path(os.environ["QUORVIK_SOURCE_DIR"])
MATRIX = 0x3680


def firmware(version: tuple[int, int], size: int = 2000) -> bytes:
    """One format-2 section for the matrix model; its data begins with the
    version it installs, where the simulated device reads it."""
    data = bytes(version) + bytes((i * 31 + 7) & 0xFF for i in range(size - 2))
    header = (33).to_bytes(2, "big") + MATRIX.to_bytes(2, "big") + b"\x01\x05"
    return b"\x02\x01" + header + b"\xde\xad\xbe\xef" + len(data).to_bytes(4, "big") + data


def device(serial: str, mac: str, version: int) -> dict:
    return {"mode": "app", "loaderType": 897, "deviceId": MATRIX, "mcuId": 33,
            "blockSize": 512, "bootDelayMs": 100, "appVersion": version,
            "name": "Matrix Wall", "identity": serial, "mac": mac, "imageVersionAt": 0}


class Playbook(unittest.TestCase):
    def setUp(self):
        self.dir = Path(tempfile.mkdtemp(prefix="quorvik-at-scale-"))
        env = dict(os.environ)
        # Nothing of this run reaches the user's settings, journal or home.
        for name in ("HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME"):
            env[name] = str(self.dir)
        env["QUORVIK_JOURNAL"] = str(self.dir / "journal.jsonl")
        env["ANSIBLE_LOCAL_TEMP"] = str(self.dir / "ansible-tmp")
        env["ANSIBLE_REMOTE_TEMP"] = str(self.dir / "ansible-tmp")
        env["ANSIBLE_NOCOLOR"] = "1"
        self.env = env
        config = self.dir / "sim.json"
        config.write_text(json.dumps({"devices": [
            device("a1a1a1a1a1a1a1a1a1a1a1", "00-0A-95-00-00-A1", 0x0102),
            device("b2b2b2b2b2b2b2b2b2b2b2", "00-0A-95-00-00-B2", 0x0304)]}))
        self.sim = subprocess.Popen([DEVSIM, "--config", str(config)], stdout=subprocess.PIPE,
                                    text=True)
        self.assertEqual(self.sim.stdout.readline().strip(), "ready")

    def tearDown(self):
        self.sim.send_signal(signal.SIGTERM)
        self.sim.wait(timeout=10)
        subprocess.run(["rm", "-rf", str(self.dir)], check=False)

    def cli(self, *args: str) -> subprocess.CompletedProcess:
        return subprocess.run([CLI, *args], env=self.env, capture_output=True, text=True,
                              cwd=self.dir, check=False)

    def playbook(self, *extra: str) -> dict:
        venue = self.dir / "venue"
        inventory = self.dir / "venues.ini"
        inventory.write_text("[venues]\nlocalhost ansible_connection=local "
                             "ansible_python_interpreter=/usr/bin/python3\n")
        run = subprocess.run(
            ["ansible-playbook", "-i", str(inventory),
             "-e", json.dumps({
                 "quorvik_cli": CLI, "quorvik_rig": str(venue / "show.rig.json"),
                 "quorvik_metrics": str(self.dir / "quorvik.prom"),
                 "quorvik_results": str(self.dir / "results"),
                 "quorvik_extra_args": ["--time-scale=0.1", "--no-syslog"]}),
             *extra, str(SOURCE / "docs/examples/quorvik-rigs.yml")],
            env=self.env, capture_output=True, text=True, cwd=self.dir, check=False)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        return json.loads((self.dir / "results" / "localhost.json").read_text())

    def test_a_venue_is_planned_applied_and_then_found_as_declared(self):
        venue = self.dir / "venue"
        (venue / "fw").mkdir(parents=True)
        (venue / "fw" / "matrix-3.04.bin").write_bytes(firmware((3, 4)))
        entry = '{{"serial": "{0}", "deviceId": "0x3680", "label": "{1}"}}'
        (venue / "show.rig.json").write_text(
            '{"format": 1, "type": "quorvik-rig", "devices": [' +
            entry.format("A1A1A1A1A1A1A1A1A1A1A1", "Truss 1") + "," +
            entry.format("B2B2B2B2B2B2B2B2B2B2B2", "Truss 2") + "]}\n")
        declared = self.cli("declare", str(venue / "show.rig.json"),
                            "--file", str(venue / "fw" / "matrix-3.04.bin"), "--version", "3.04")
        self.assertEqual(declared.returncode, 0, declared.stdout + declared.stderr)

        # Planned only: the collection hosts a plan, and nothing was written.
        planned = self.playbook()
        self.assertEqual(planned["planExit"], 4)
        self.assertIsNone(planned["applyExit"])
        actions = {e["label"]: e["reason"] for e in planned["plan"] if e["event"] == "plan_device"}
        self.assertEqual(actions, {"Truss 1": "update 1.02 -> 3.04", "Truss 2": "up-to-date"})
        families = {f.name: f for f in text_string_to_metric_families(
            (self.dir / "quorvik.prom").read_text())}
        firmware_states = {s.labels["state"]: s.value
                           for s in families["quorvik_rig_firmware_devices"].samples}
        self.assertEqual(firmware_states["out_of_date"], 1)
        self.assertEqual(firmware_states["up_to_date"], 1)
        self.assertEqual({s.labels["state"]: s.value for s in
                          families["quorvik_rig_devices"].samples}["present"], 2)
        checked = families["quorvik_rig_check_timestamp_seconds"].samples[0].value
        self.assertLess(abs(checked - time.time()), 120)
        for family in families.values():
            for sample in family.samples:
                self.assertNotIn("serial", sample.labels)

        applied = self.playbook("-e", "quorvik_apply=true")
        self.assertEqual(applied["applyExit"], 0)
        results = [e for e in applied["apply"] if e["event"] == "device_result"]
        self.assertEqual([(r["serial"], r["outcome"], r["reason"]) for r in results],
                         [("A1A1A1A1A1A1A1A1A1A1A1", "ok", "RUN application. (3.04 confirmed)")])

        again = self.playbook("-e", "quorvik_apply=true")
        self.assertEqual(again["planExit"], 0)
        self.assertIsNone(again["applyExit"])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
