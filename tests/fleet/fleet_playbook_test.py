#!/usr/bin/env python3
"""The Ansible collection velmora.dorvik against three real mservers.

Three hosts of one inventory run on this machine (local connection), each
with its own mserver on a loopback port, its own copy of the distribution
and its own settings. The example playbooks drive dorvik-cli through the
module dorvik_distribution:

  1. the first rollout installs on all three hosts (changed);
  2. the second changes nothing: the install task is not changed, and no
     server's journal or transcript shows a global update;
  3. --check --diff with a newer distribution changes nothing either (the
     journals again) and shows the routines that would change;
  4. the newer distribution rolls out with serial 1, one host per batch;
  5. with one server stopped, its host fails and the other two install;
  6. rolled_back puts each host's previous version back, and a second
     rollback changes nothing.

Before that, the module's documentation is checked as ansible-test's
validate-modules would: ansible-doc parses it, and its options agree with
the module's argument_spec (names, types, defaults, choices), its examples
use only documented options. Exits 77 (skipped) when ansible-playbook or
ansible-doc is missing.
"""

import argparse
import ast
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

import yaml

SKIP = 77
HOSTS = ("h1", "h2", "h3")
INSTALL_TASK = "Install it unless the namespace holds it already"
VERIFY_TASK = "Check that every routine arrived intact"
ROLLBACK_TASK = "Roll back the newest backup set"
PLAYBOOK_TIMEOUT = 90  # seconds; one run takes a few


class Failure(Exception):
    pass


class Run:
    def __init__(self, results, stats, order, output, seconds, rc):
        self.results, self.stats, self.order, self.output, self.seconds, self.rc = (
            results, stats, order, output, seconds, rc)

    def batches(self):
        """The hosts in the order their tasks ran, each run of one host's tasks once."""
        runs = []
        for host in self.order:
            if not runs or runs[-1] != host:
                runs.append(host)
        return runs


def check(condition, message):
    if not condition:
        raise Failure(message)


# --- the module's documentation --------------------------------------------

def literal(node):
    """A literal, where dict(name=value, ...) counts as one."""
    if isinstance(node, ast.Call) and getattr(node.func, "id", None) == "dict" and not node.args:
        return {keyword.arg: literal(keyword.value) for keyword in node.keywords}
    if isinstance(node, ast.Dict):
        return {literal(k): literal(v) for k, v in zip(node.keys, node.values)}
    return ast.literal_eval(node)


def module_argument_spec(module_file):
    """The argument_spec as main() builds it, read from the source without running the module."""
    tree = ast.parse(open(module_file, encoding="utf-8").read())
    for node in ast.walk(tree):
        if isinstance(node, ast.Call) and getattr(node.func, "id", None) == "AnsibleModule":
            for keyword in node.keywords:
                if keyword.arg == "argument_spec":
                    return literal(keyword.value)
    raise Failure("no AnsibleModule(argument_spec=...) in %s" % module_file)


def validate_module_docs(env, module_file):
    out = subprocess.run(["ansible-doc", "--json", "velmora.dorvik.dorvik_distribution"], env=env,
                         capture_output=True, text=True, timeout=60)
    check(out.returncode == 0, "ansible-doc refused the module:\n" + out.stderr)
    entry = json.loads(out.stdout)["velmora.dorvik.dorvik_distribution"]
    doc = entry["doc"]
    options = doc["options"]
    spec = module_argument_spec(module_file)
    check(set(options) == set(spec),
          "documented options %s differ from argument_spec %s" % (sorted(options), sorted(spec)))
    for name, arg in spec.items():
        documented = options[name]
        check(documented.get("type", "str") == arg.get("type", "str"),
              "%s: documented type %s, argument_spec %s" % (name, documented.get("type"), arg.get("type")))
        check(documented.get("default") == arg.get("default"),
              "%s: documented default %r, argument_spec %r" % (name, documented.get("default"), arg.get("default")))
        check(documented.get("choices") == arg.get("choices"),
              "%s: documented choices %r, argument_spec %r" % (name, documented.get("choices"), arg.get("choices")))
        check(documented.get("description"), "%s has no description" % name)
    check(doc.get("short_description"), "no short_description")
    check(entry.get("return"), "RETURN is empty")
    for returned in ("changed", "msg", "rc", "dorvik"):
        check(returned in entry["return"], "RETURN does not describe %s" % returned)
    examples = yaml.safe_load(entry["examples"])
    for example in examples:
        args = example["velmora.dorvik.dorvik_distribution"]
        unknown = set(args) - set(spec)
        check(not unknown, "example %r uses undocumented options %s" % (example["name"], sorted(unknown)))


# --- the distributions and servers -----------------------------------------

def routine(name, version, extra=""):
    return "%s ;%s\n Q\nv() q \"%s\"\ngo() q \"\"\n%s" % (name, version, version, extra)


def pack(dorpack, root, version, routines):
    """Packs a distribution of `routines` (name -> text) into root/dist-<version>; answers the folder."""
    source = os.path.join(root, "pack-" + version)
    folder = os.path.join(root, "dist-" + version)
    os.makedirs(source)
    os.makedirs(folder)
    for name, text in routines.items():
        with open(os.path.join(source, name + ".int"), "w", encoding="utf-8") as f:
            f.write(text)
    manifest = {"product": "Склад", "version": version, "build_date": "09.12.2026", "password": "pw",
                "post_actions": [{"description": "Настройка склада", "label": "go^R1"}],
                "routines": [name + ".int" for name in routines]}
    with open(os.path.join(source, "manifest.json"), "w", encoding="utf-8") as f:
        json.dump(manifest, f, ensure_ascii=False)
    out = subprocess.run([dorpack, "build", "manifest.json", "-o", os.path.join(folder, "dorpack.dat")],
                         cwd=source, capture_output=True, text=True, timeout=60)
    check(out.returncode == 0, "dorpack failed:\n" + out.stderr)
    return folder


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """One mserver on a loopback port with its journal and transcript."""

    def __init__(self, binary, folder):
        self.binary = binary
        self.folder = folder
        self.port = free_port()
        self.journal = os.path.join(folder, "journal.txt")
        self.transcript = os.path.join(folder, "transcript.log")
        self.process = None
        os.makedirs(folder)
        self.start()

    @property
    def address(self):
        return "127.0.0.1:%d" % self.port

    def start(self):
        log = open(os.path.join(self.folder, "mserver.log"), "ab")
        self.process = subprocess.Popen(
            [self.binary, "serve", "--data", os.path.join(self.folder, "db"), "--listen", self.address,
             "--journal", self.journal, "--transcript", self.transcript], stderr=log)
        deadline = time.monotonic() + 20
        while True:
            check(self.process.poll() is None, "mserver ended at start-up (%s)" % self.folder)
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                check(time.monotonic() < deadline, "mserver did not start listening")
                time.sleep(0.05)

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None

    def updates(self):
        """Journal lines, and transcript lines whose request updated a global (journaled or not)."""
        journal = open(self.journal, encoding="latin-1").read().splitlines() if os.path.exists(self.journal) else []
        updating = [line for line in open(self.transcript, encoding="latin-1").read().splitlines()
                    if "updates=" in line and "updates=0/0" not in line]
        return len(journal), len(updating)

    def call(self, code):
        out = subprocess.run([self.binary, "call", "--connect", self.address, "--namespace", "USER", code],
                             capture_output=True, timeout=30)
        check(out.returncode == 0, "mserver call %s failed: %s" % (code, out.stderr))
        return out.stdout.decode("latin-1")


# --- ansible-playbook --------------------------------------------------------

class Fleet:
    def __init__(self, args, root):
        self.args = args
        self.root = root
        self.servers = {h: Server(args.mserver, os.path.join(root, "servers", h)) for h in HOSTS}
        self.inventory = os.path.join(root, "inventory.ini")
        lines = ["[dorvik_servers]"]
        for h in HOSTS:
            lines.append("%s ansible_connection=local ansible_python_interpreter=%s dorvik_server=%s "
                         "dorvik_root=%s" % (h, sys.executable, self.servers[h].address,
                                             os.path.join(root, "hosts", h)))
        lines += ["", "[dorvik_servers:vars]", "dorvik_cli=" + args.cli, ""]
        with open(self.inventory, "w") as f:
            f.write("\n".join(lines))
        self.env = dict(os.environ)
        self.env.update({
            "ANSIBLE_COLLECTIONS_PATH": args.collections,
            "ANSIBLE_CALLBACK_PLUGINS": os.path.join(os.path.dirname(os.path.abspath(__file__)), "callback_plugins"),
            "ANSIBLE_CALLBACKS_ENABLED": "fleet_record",
            "ANSIBLE_HOME": os.path.join(root, "ansible-home"),
            "ANSIBLE_LOCAL_TEMP": os.path.join(root, "ansible-local"),
            "ANSIBLE_REMOTE_TEMP": os.path.join(root, "ansible-remote"),
            "ANSIBLE_RETRY_FILES_ENABLED": "False",
            "ANSIBLE_NOCOLOR": "1",
            "ANSIBLE_FORKS": "3",
            "XDG_CONFIG_HOME": os.path.join(root, "config"),
            "LC_ALL": "C.UTF-8",
        })

    def playbook(self, name, *options, **extra_vars):
        """Runs a playbook; answers a Run: results by task and host, stats, the hosts in the order
        their tasks ran, the printed output, the time taken and the exit status."""
        command = ["ansible-playbook", "-i", self.inventory, os.path.join(self.args.playbooks, name)]
        command += list(options)
        if extra_vars:
            command += ["-e", json.dumps(extra_vars)]
        record = os.path.join(self.root, "record.json")
        if os.path.exists(record):
            os.remove(record)
        started = time.monotonic()
        out = subprocess.run(command, env=dict(self.env, FLEET_RECORD_FILE=record), cwd=self.root,
                             capture_output=True, text=True, timeout=PLAYBOOK_TIMEOUT)
        seconds = time.monotonic() - started
        check(os.path.exists(record), "ansible-playbook recorded nothing (exit %d):\n%s\n%s" %
              (out.returncode, out.stdout[-3000:], out.stderr[-3000:]))
        report = json.load(open(record))
        results, order = {}, []
        for event in report["events"]:
            result = dict(event["result"], outcome=event["outcome"])
            results[(event["task"], event["host"])] = result
            order.append(event["host"])
        return Run(results, report["stats"], order, out.stdout, seconds, out.returncode)

    def distribute(self, folder):
        return {"dorvik_source": folder}

    def history(self, host):
        out = subprocess.run([self.args.cli, "history", "--json", "--server", self.servers[host].address,
                              "--namespace", "USER"], env=self.env, cwd=self.root, capture_output=True,
                             timeout=60)
        check(out.returncode == 0, "history on %s failed: %s" % (host, out.stderr.decode("utf-8", "replace")))
        return json.loads(out.stdout.decode("utf-8"))

    def current_version(self, host):
        doc = self.history(host)
        current = [e for e in doc["installations"] if e["id"] == doc["current"]]
        return current[0]["version"] if current else None

    def runs(self, host, routine_name):
        return self.servers[host].call("$$v^" + routine_name)

    def all_updates(self):
        return {h: s.updates() for h, s in self.servers.items()}

    def close(self):
        for server in self.servers.values():
            server.stop()


def install_result(run, host):
    result = run.results.get((INSTALL_TASK, host))
    check(result is not None, "the install task did not run on %s" % host)
    return result


def scenario(fleet, v1, v2, v3):
    timings = {}

    # 1. The first rollout, all hosts in one batch.
    run = fleet.playbook("rollout.yml", dorvik_serial=3, **fleet.distribute(v1))
    timings["first rollout, three hosts in one batch"] = run.seconds
    check(run.rc == 0, "the first rollout failed: %s\n%s" % (json.dumps(run.stats), run.output[-3000:]))
    for h in HOSTS:
        r = install_result(run, h)
        check(r["changed"], "%s: the first rollout did not change it: %s" % (h, r.get("msg")))
        check(r["rc"] == 0 and r["dorvik"]["command"] == "install", "%s: %s" % (h, r.get("msg")))
        check(r["dorvik"]["routines"]["counts"]["new"] == 3, "%s: routines %s" % (h, r["dorvik"]["routines"]))
        check(r["dorvik"]["post_actions"]["run"], "%s: the post-actions did not run" % h)
        check(r["dorvik"]["signature"]["state"] == "unsigned", "%s: signature %s" % (h, r["dorvik"]["signature"]))
        check(run.results[(VERIFY_TASK, h)]["outcome"] == "ok", "%s: the verification did not run" % h)
        check(fleet.runs(h, "R2") == "1.0", "%s: R2 does not run version 1.0" % h)
        check(fleet.current_version(h) == "1.0", "%s: the record does not name 1.0" % h)

    # 2. The same again: nothing changes, and no server sees an update.
    before = fleet.all_updates()
    for h, (journaled, updating) in before.items():
        check(journaled > 0 and updating > 0, "%s: the journal and transcript do not show the installation" % h)
    run = fleet.playbook("rollout.yml", dorvik_serial=3, **fleet.distribute(v1))
    timings["idempotent second run, three hosts"] = run.seconds
    check(run.rc == 0, "the second run failed: %s" % json.dumps(run.stats))
    for h in HOSTS:
        r = install_result(run, h)
        check(not r["changed"], "%s: the second run changed it: %s" % (h, r.get("msg")))
        check(not r["dorvik"]["post_actions"]["run"], "%s: the post-actions ran again" % h)
        check(r["dorvik"]["log_path"] is None, "%s: an install log was written for nothing" % h)
        check(run.results[(VERIFY_TASK, h)]["outcome"] == "skipped", "%s: verified without an installation" % h)
        check(run.stats[h]["changed"] == 0, "%s: a task changed something: %s" % (h, run.stats[h]))
    after = fleet.all_updates()
    check(after == before, "the second run updated globals: %s -> %s" % (before, after))

    # 3. Check mode with the newer distribution: what would change, and no update.
    run = fleet.playbook("rollout.yml", "--check", "--diff", dorvik_serial=3, **fleet.distribute(v2))
    check(run.rc == 0, "the check run failed: %s\n%s" % (json.dumps(run.stats), run.output[-3000:]))
    for h in HOSTS:
        r = install_result(run, h)
        check(r["changed"], "%s: check mode says nothing would change" % h)
        check(r["dorvik"].get("up_to_date") is False, "%s: check mode did not run plan: %s" % (h, r["dorvik"]))
        diff = r["diff"] if isinstance(r["diff"], dict) else r["diff"][0]
        check("R4: absent" in diff["before"] and "R4: Склад 2.0" in diff["after"],
              "%s: the diff does not show the new routine R4: %s" % (h, diff))
        check("R2:" in diff["after"], "%s: the diff does not show R2: %s" % (h, diff))
        check(fleet.runs(h, "R2") == "1.0", "%s: check mode changed R2" % h)
    check("+R4: Склад 2.0" in run.output, "the printed diff does not show R4:\n" + run.output[-3000:])
    if os.environ.get("DORVIK_FLEET_SHOW"):
        print(run.output)
    after = fleet.all_updates()
    check(after == before, "check mode updated globals: %s -> %s" % (before, after))

    # 4. The newer distribution, one host per batch.
    run = fleet.playbook("rollout.yml", dorvik_serial=1, **fleet.distribute(v2))
    timings["rollout with serial 1, three hosts"] = run.seconds
    check(run.rc == 0, "the serial rollout failed: %s\n%s" % (json.dumps(run.stats), run.output[-3000:]))
    check(run.batches() == list(HOSTS), "the hosts' tasks interleaved: %s" % run.order)
    for h in HOSTS:
        r = install_result(run, h)
        check(r["changed"], "%s: 2.0 was not installed" % h)
        counts = r["dorvik"]["routines"]["counts"]
        check(counts["new"] == 1 and counts["without_source"] == 3, "%s: routines %s" % (h, counts))
        check(r["dorvik"]["backup"] is not None, "%s: no backup set" % h)
        check(fleet.runs(h, "R2") == "2.0" and fleet.runs(h, "R4") == "2.0", "%s: 2.0 does not run" % h)
        check(fleet.current_version(h) == "2.0", "%s: the record does not name 2.0" % h)

    # 5. One server stopped: its host fails, the others install 3.0.
    fleet.servers["h2"].stop()
    run = fleet.playbook("rollout.yml", dorvik_serial=3, dorvik_max_fail_percentage=34, **fleet.distribute(v3))
    check(run.rc != 0, "ansible-playbook did not report the failed host")
    failed = install_result(run, "h2")
    check(failed["outcome"] == "failed" and failed["rc"] == 3, "h2 did not fail with exit 3: %s" % failed)
    check(failed["dorvik"]["error"]["stage"] == "connect", "h2: error %s" % failed["dorvik"]["error"])
    check(run.stats["h2"]["failures"] == 1, "h2: stats %s" % run.stats["h2"])
    for h in ("h1", "h3"):
        r = install_result(run, h)
        check(r["changed"] and r["outcome"] == "ok", "%s did not go on: %s" % (h, r.get("msg")))
        check(run.results[(VERIFY_TASK, h)]["outcome"] == "ok", "%s: not verified after h2 failed" % h)
        check(fleet.runs(h, "R2") == "3.0", "%s: 3.0 does not run" % h)
    fleet.servers["h2"].start()

    # 6. Roll back: each host gets its previous version; a second rollback is a no-op.
    run = fleet.playbook("rollback.yml", dorvik_serial=3)
    check(run.rc == 0, "the rollback failed: %s\n%s" % (json.dumps(run.stats), run.output[-3000:]))
    expected = {"h1": "2.0", "h2": "1.0", "h3": "2.0"}
    for h, version in expected.items():
        r = run.results[(ROLLBACK_TASK, h)]
        check(r["changed"], "%s: the rollback changed nothing: %s" % (h, r.get("msg")))
        check(fleet.runs(h, "R2") == version, "%s: R2 runs %s, not %s" % (h, fleet.runs(h, "R2"), version))
        check(fleet.current_version(h) == version, "%s: the record does not name %s" % (h, version))
    check(fleet.servers["h2"].call("$T(+0^R4)") == "", "h2: R4, new in 2.0, is still there after the rollback")
    run = fleet.playbook("rollback.yml", dorvik_serial=3)
    check(run.rc == 0, "the second rollback failed: %s" % json.dumps(run.stats))
    for h in HOSTS:
        check(not run.results[(ROLLBACK_TASK, h)]["changed"], "%s: the second rollback changed it" % h)
    return timings


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--mserver", required=True)
    parser.add_argument("--dorpack", required=True)
    parser.add_argument("--collections", required=True, help="the folder holding ansible_collections/")
    parser.add_argument("--playbooks", required=True)
    args = parser.parse_args()
    for tool in ("ansible-playbook", "ansible-doc"):
        if shutil.which(tool) is None:
            print("skipped: %s is not installed (Debian package ansible-core, see scripts/setup)" % tool)
            return SKIP

    root = tempfile.mkdtemp(prefix="dorvik-fleet-")
    fleet = None
    try:
        module_file = os.path.join(args.collections, "ansible_collections", "velmora", "dorvik", "plugins",
                                   "modules", "dorvik_distribution.py")
        env = dict(os.environ, ANSIBLE_COLLECTIONS_PATH=args.collections,
                   ANSIBLE_HOME=os.path.join(root, "ansible-home"))
        validate_module_docs(env, module_file)
        print("module documentation: agrees with the argument_spec")

        base = {"R1": routine("R1", "1.0"), "R2": routine("R2", "1.0"), "R3": routine("R3", "1.0")}
        v1 = pack(args.dorpack, root, "1.0", base)
        v2 = pack(args.dorpack, root, "2.0", dict((n, routine(n, "2.0")) for n in base) |
                  {"R4": routine("R4", "2.0")})
        v3 = pack(args.dorpack, root, "3.0", dict((n, routine(n, "3.0")) for n in list(base) + ["R4"]))
        fleet = Fleet(args, root)
        started = time.monotonic()
        timings = scenario(fleet, v1, v2, v3)
        for what, seconds in timings.items():
            print("%s: %.1f s" % (what, seconds))
        print("whole test: %.1f s" % (time.monotonic() - started))
        print("1 passed, 0 failed")
        return 0
    except Failure as e:
        print("FAILED: %s" % e)
        print("0 passed, 1 failed")
        return 1
    finally:
        if fleet:
            fleet.close()
        if os.environ.get("DORVIK_KEEP_TEST_FILES"):
            print("files kept in " + root)
        else:
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
