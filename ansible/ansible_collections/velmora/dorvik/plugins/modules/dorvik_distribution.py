#!/usr/bin/python
# -*- coding: utf-8 -*-
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: dorvik_distribution
short_description: Install, verify or roll back a Velmora distribution with dorvik-cli
version_added: "1.0.0"
description:
  - Runs C(dorvik-cli) on the managed host to install the distribution in I(path)
    (its C(dorpack.dat)) into a namespace of a Cache server, to verify an installation,
    or to roll one back to the backup set taken before it.
  - C(state=present) installs only when the namespace does not hold this exact distribution
    already (C(dorvik-cli --if-changed)); the same means that the newest installation recorded
    in the namespace (C(^DorvikInstalled)), if not rolled back, has the same SHA-256 digest
    of C(dorpack.dat), and every routine passes the check of C(dorvik-cli verify).
    Post-actions run only when it installs.
  - In check mode nothing on the server changes; C(state=present) runs C(dorvik-cli plan)
    and reports whether an installation would take place and which routines it would change.
  - In diff mode the plan is returned routine by routine as I(before) (the namespace) and
    I(after) (the distribution). Routine texts never leave the server, so the diff names the
    routines and how they differ, not their lines.
  - Rollback puts back routines only; data changed by post-actions stays changed.
author:
  - Velmora installer team
requirements:
  - C(dorvik-cli) on the managed host.
options:
  path:
    description:
      - The distribution folder on the managed host, holding C(dorpack.dat) (and C(licence.txt),
        C(readme.txt)). C(dorvik-cli) runs in it and writes its install log there.
      - Needed for C(state=present) and C(state=verified).
    type: path
  server:
    description:
      - The server as C(IP) or C(IP:PORT). Without it C(dorvik-cli) takes the saved settings.
    type: str
  namespace:
    description:
      - The target namespace. Without it the saved one if the server lists it, else the first
        listed; a library distribution always goes to the library namespace.
    type: str
  password_file:
    description:
      - A file on the managed host whose first line is the distribution's source password.
        When given, the routines' source texts are kept (C(--keep-sources)).
    type: path
  trusted_key:
    description:
      - The public key the distribution's signature must be made with (C(--trusted-key)).
      - Needs a C(dorvik-cli) that checks signatures; with an older one the task fails
        rather than install an unchecked distribution.
    type: path
  state:
    description:
      - C(present) installs the distribution unless it is installed already.
      - C(verified) checks that every routine of the distribution is on the server and equal
        to it; fails when one is not. Never changes anything.
      - C(rolled_back) rolls back the backup set I(backup_id), or the newest set of the
        namespace; a set rolled back already is left alone (not changed).
    type: str
    choices: [present, verified, rolled_back]
    default: present
  backup:
    description:
      - Before installing, keep the routines the installation replaces in a backup set on
        the server, so that C(state=rolled_back) can put them back.
    type: bool
    default: true
  backup_id:
    description:
      - With C(state=rolled_back), the number of the backup set to roll back.
    type: str
  rollback_on_failure:
    description:
      - When the installation fails, roll its routines back at once (needs I(backup)).
    type: bool
    default: false
  force:
    description:
      - Install even when the namespace holds this distribution already.
    type: bool
    default: false
  accept_licence:
    description:
      - Accept the distribution's C(licence.txt) without showing it. Without it a distribution
        with a licence is not installed.
    type: bool
    default: false
  executable:
    description:
      - The C(dorvik-cli) program, as a path or as a name looked up in C(PATH).
    type: path
    default: dorvik-cli
attributes:
  check_mode:
    support: full
    description: Runs C(dorvik-cli plan) (or lists the backup sets) and changes nothing.
  diff_mode:
    support: full
    description: The plan as before and after, one line per routine that changes.
notes:
  - Runs on the managed host; the server may be local to it or reached over the network.
  - Exit statuses of C(dorvik-cli) are returned in I(rc); 0 is success.
seealso:
  - name: The installer's fleet guide
    description: A whole rollout with inventory, playbook, check mode and rollback.
    link: https://example.invalid/velmora/dorvik/docs/fleet.md
"""

EXAMPLES = r"""
- name: Install the distribution where it is not installed yet
  velmora.dorvik.dorvik_distribution:
    path: /opt/velmora/sklad-4.1
    server: 127.0.0.1:1972
    namespace: USER
    accept_licence: true
    rollback_on_failure: true

- name: Keep the source texts, with the password from a file
  velmora.dorvik.dorvik_distribution:
    path: /opt/velmora/sklad-4.1
    namespace: USER
    password_file: /root/sklad.pw

- name: Check that the routines arrived intact
  velmora.dorvik.dorvik_distribution:
    path: /opt/velmora/sklad-4.1
    namespace: USER
    state: verified

- name: Put the previous version back
  velmora.dorvik.dorvik_distribution:
    namespace: USER
    state: rolled_back
"""

RETURN = r"""
changed:
  description: Whether the namespace was (or in check mode would be) changed.
  returned: always
  type: bool
msg:
  description: What was done, or why it failed.
  returned: always
  type: str
  sample: Installed Sklad 4.1 into USER (3 new, 2 changed routines)
rc:
  description: The exit status of dorvik-cli (0 success, 1 failed, 2 usage, 3 no server, 4 damaged distribution).
  returned: when dorvik-cli ran
  type: int
  sample: 0
dorvik:
  description:
    - The JSON document dorvik-cli printed (C(--json)); in check mode for C(state=present)
      the plan. Its members are described in the installer's C(docs/fleet.md).
  returned: when dorvik-cli printed one
  type: dict
  contains:
    command:
      description: The command run (install, plan, verify, rollback, backups).
      type: str
    status:
      description: The exit status.
      type: int
    changed:
      description: Whether the command changed the namespace.
      type: bool
    digest:
      description: The SHA-256 of dorpack.dat.
      type: str
    routines:
      description: The routines by state (install, verify) or one entry per routine (plan).
      type: raw
    backup:
      description: The backup set taken before the installation, or rolled back.
      type: dict
    post_actions:
      description: Whether the post-actions ran, and the last lines they wrote.
      type: dict
    log_path:
      description: The install log written on the managed host.
      type: str
    signature:
      description: The state of the distribution's signature check.
      type: dict
    error:
      description: Null on success; else the stage that failed and the message.
      type: dict
stderr:
  description: What dorvik-cli said on standard error (progress and messages).
  returned: when dorvik-cli ran
  type: str
cmd:
  description: The command line run; the password stays in its file and is not on it.
  returned: when dorvik-cli ran
  type: list
  elements: str
"""

import json
import os

from ansible.module_utils.basic import AnsibleModule

ROUTINE_LISTS = ("new", "changed", "unchanged", "without_source", "damaged")
BEFORE_TEXTS = {
    "new": "absent",
    "changed": "present, differs",
    "without_source": "present without source (cannot be compared)",
    "damaged": "damaged record in the distribution",
}


def fail(module, result, msg):
    result["msg"] = msg
    module.fail_json(**result)


def cli_supports(module, executable, option):
    rc, out, err = module.run_command([executable, "--help"])
    return rc == 0 and option in out


def connection_args(params):
    args = []
    if params["server"]:
        args += ["--server", params["server"]]
    if params["namespace"]:
        args += ["--namespace", params["namespace"]]
    return args


def distribution_args(module, params):
    args = []
    if params["password_file"]:
        args += ["--keep-sources", "--password-file", params["password_file"]]
    if params["trusted_key"]:
        if not cli_supports(module, params["executable"], "--trusted-key"):
            module.fail_json(msg="trusted_key is given, but this dorvik-cli cannot check signatures "
                                 "(it has no --trusted-key): install a newer dorvik-cli")
        args += ["--trusted-key", params["trusted_key"]]
    return args


def run_cli(module, args, cwd=None):
    """Runs dorvik-cli; answers rc, the parsed JSON document (or None), stderr and the command."""
    cmd = [module.params["executable"]] + args
    rc, out, err = module.run_command(cmd, cwd=cwd, environ_update={"LC_ALL": "C.UTF-8"})
    try:
        doc = json.loads(out) if out.strip() else None
    except ValueError:
        doc = None
    return rc, doc, err, cmd


def routine_states(doc):
    """(name, state, detail) for each distribution routine of a plan or an installation report."""
    routines = doc.get("routines") if doc else None
    if isinstance(routines, list):  # plan --json
        for r in routines:
            detail = ""
            if r.get("state") == "changed":
                detail = " (+%s -%s lines)" % (r.get("lines_added", 0), r.get("lines_removed", 0))
            state = r.get("state")
            if state == "does_not_load":
                state = "without_source"
            yield r.get("name"), state, detail
    elif isinstance(routines, dict):  # install --json
        for state in ROUTINE_LISTS:
            for name in routines.get(state, []):
                yield name, state, ""


def routine_counts(doc):
    counts = dict((state, 0) for state in ROUTINE_LISTS)
    for _name, state, _detail in routine_states(doc):
        counts[state] = counts.get(state, 0) + 1
    return counts


def plan_diff(doc):
    """The plan as Ansible's before/after: one line per routine an installation would replace."""
    before, after = [], []
    release = "%s %s (%s)" % (doc.get("product"), doc.get("version"), doc.get("build_date"))
    for name, state, detail in routine_states(doc):
        if state == "unchanged":
            continue
        before.append("%s: %s%s\n" % (name, BEFORE_TEXTS.get(state, state), detail))
        after.append("%s: %s\n" % (name, release))
    return {
        "before_header": "namespace %s" % doc.get("namespace"),
        "after_header": "distribution %s" % release,
        "before": "".join(before),
        "after": "".join(after),
    }


def failure_message(rc, doc, err):
    error = (doc or {}).get("error") or {}
    text = error.get("text") or (err.strip().splitlines() or ["dorvik-cli failed"])[-1]
    stage = error.get("stage")
    return "dorvik-cli failed (exit %s%s): %s" % (rc, ", stage " + stage if stage else "", text)


def present(module, result):
    p = module.params
    if not p["path"]:
        module.fail_json(msg="state=present needs path (the distribution folder)")
    if not os.path.isfile(os.path.join(p["path"], "dorpack.dat")):
        fail(module, result, "no dorpack.dat in %s" % p["path"])
    extra = distribution_args(module, p)
    if module.check_mode:
        rc, doc, err, cmd = run_cli(module, ["plan", "--json"] + connection_args(p) + extra, cwd=p["path"])
        result.update(rc=rc, stderr=err, cmd=cmd)
        if rc != 0 or doc is None:
            fail(module, result, failure_message(rc, doc, err))
        result["dorvik"] = doc
        result["changed"] = p["force"] or not doc.get("up_to_date", False)
        counts = routine_counts(doc)
        if result["changed"]:
            result["msg"] = "would install %s %s into %s (%d new, %d changed, %d without source)" % (
                doc.get("product"), doc.get("version"), doc.get("namespace"),
                counts["new"], counts["changed"], counts["without_source"])
            if module._diff:
                result["diff"] = plan_diff(doc)
        else:
            result["msg"] = "%s %s is installed in %s already" % (doc.get("product"), doc.get("version"),
                                                                 doc.get("namespace"))
        return

    args = ["--json"] + connection_args(p) + extra
    if not p["force"]:
        args.append("--if-changed")
    if not p["backup"]:
        args.append("--no-backup")
    if p["rollback_on_failure"]:
        args.append("--rollback-on-failure")
    if p["accept_licence"]:
        args.append("--accept-licence")
    rc, doc, err, cmd = run_cli(module, args, cwd=p["path"])
    result.update(rc=rc, stderr=err, cmd=cmd, dorvik=doc)
    result["changed"] = bool(doc and doc.get("changed"))
    if rc != 0 or doc is None:
        fail(module, result, failure_message(rc, doc, err))
    if result["changed"]:
        counts = routine_counts(doc)
        result["msg"] = "installed %s %s into %s (%d new, %d changed, %d without source)" % (
            doc.get("product"), doc.get("version"), doc.get("namespace"),
            counts["new"], counts["changed"], counts["without_source"])
        if module._diff:
            result["diff"] = plan_diff(doc)
    else:
        result["msg"] = "%s %s is installed in %s already" % (doc.get("product"), doc.get("version"),
                                                             doc.get("namespace"))


def verified(module, result):
    p = module.params
    if not p["path"]:
        fail(module, result, "state=verified needs path (the distribution folder)")
    rc, doc, err, cmd = run_cli(module, ["verify", "--json"] + connection_args(p) + distribution_args(module, p),
                                cwd=p["path"])
    result.update(rc=rc, stderr=err, cmd=cmd, dorvik=doc)
    if rc != 0 or doc is None:
        fail(module, result, failure_message(rc, doc, err))
    counts = doc["routines"]["counts"]
    result["msg"] = "%d routines match in %s (%d checked only for presence, without source)" % (
        counts["matching"], doc.get("namespace"), counts["without_source"])


def rolled_back(module, result):
    p = module.params
    cwd = p["path"] or None
    rc, doc, err, cmd = run_cli(module, ["backups", "--json"] + connection_args(p), cwd=cwd)
    result.update(rc=rc, stderr=err, cmd=cmd)
    if rc != 0 or doc is None:
        fail(module, result, failure_message(rc, doc, err))
    sets = doc.get("sets", [])
    if p["backup_id"]:
        sets = [s for s in sets if s["id"] == p["backup_id"]]
    if not sets:
        fail(module, result, "no backup set %sin %s" % (p["backup_id"] + " " if p["backup_id"] else "",
                                                        doc.get("namespace")))
    chosen = sets[-1]
    if chosen["state"] == "rolled back":
        result.update(changed=False, dorvik=doc,
                      msg="backup set %s in %s is rolled back already" % (chosen["id"], doc.get("namespace")))
        return
    if module.check_mode:
        result.update(changed=True, dorvik=doc,
                      msg="would roll back backup set %s (%s %s) in %s" % (
                          chosen["id"], chosen["product"], chosen["version"], doc.get("namespace")))
        return
    rc, doc, err, cmd = run_cli(module, ["rollback", "--json", "--backup", chosen["id"]] + connection_args(p),
                                cwd=cwd)
    result.update(rc=rc, stderr=err, cmd=cmd, dorvik=doc)
    if rc != 0 or doc is None:
        fail(module, result, failure_message(rc, doc, err))
    result["changed"] = bool(doc.get("changed"))
    done = doc.get("routines_put_back", {})
    result["msg"] = "rolled back backup set %s in %s: %s routines restored, %s removed" % (
        chosen["id"], doc.get("namespace"), done.get("restored"), done.get("removed"))


def main():
    module = AnsibleModule(
        argument_spec=dict(
            path=dict(type="path"),
            server=dict(type="str"),
            namespace=dict(type="str"),
            password_file=dict(type="path", no_log=False),
            trusted_key=dict(type="path", no_log=False),
            state=dict(type="str", default="present", choices=["present", "verified", "rolled_back"]),
            backup=dict(type="bool", default=True),
            backup_id=dict(type="str"),
            rollback_on_failure=dict(type="bool", default=False),
            force=dict(type="bool", default=False),
            accept_licence=dict(type="bool", default=False),
            executable=dict(type="path", default="dorvik-cli"),
        ),
        required_if=[("state", "present", ["path"]), ("state", "verified", ["path"])],
        supports_check_mode=True,
    )
    p = module.params
    if p["rollback_on_failure"] and not p["backup"]:
        module.fail_json(msg="rollback_on_failure needs backup")
    if p["backup_id"] is not None and p["state"] != "rolled_back":
        module.fail_json(msg="backup_id is only used with state=rolled_back")
    if os.sep not in p["executable"]:
        p["executable"] = module.get_bin_path(p["executable"], required=True)

    result = dict(changed=False, msg="")
    if p["state"] == "present":
        present(module, result)
    elif p["state"] == "verified":
        verified(module, result)
    else:
        rolled_back(module, result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
