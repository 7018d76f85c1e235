#!/usr/bin/python3
"""The Windows agent (veltrix.com, WinHTTP) under Wine, uploading to a fleet
server on this machine's loopback: over TLS, trusting the test's own
certificate authority, and over plain http with --insecure.

Usage: wine_agent_test.py CASE WINE VELTRIX-COM
(WINEPREFIX names the prefix to use.)
"""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import agent_process_test as base  # noqa: E402
from agent_process_test import check  # noqa: E402


class WineFixture(base.Fixture):
    def __init__(self, wine, program):
        super().__init__(program, program)
        self.wine = wine

    def windows_path(self, text):
        # The build machine's files are drive Z: under Wine.
        if text.startswith(self.work):
            return "Z:" + text.replace("/", "\\")
        return text

    def url(self, scheme="https"):
        # Wine's WinHTTP matches a certificate's DNS names only, not its IP addresses.
        return "%s://localhost:%d" % (scheme, self.port)

    def run(self, *arguments, program=None, timeout=300):
        command = [self.wine, self.agent, "agent", *(self.windows_path(a) for a in arguments)]
        env = dict(os.environ, WINEDEBUG="-all")
        result = subprocess.run(command, capture_output=True, text=True, timeout=timeout, env=env)
        return result.returncode, result.stdout, result.stderr


def case_tls_with_own_authority(f):
    f.start_server()
    f.enrol()
    code, out, err = f.agent_run()
    check(code == 0 and "1 stored" in out, "run: %d %s %s" % (code, out, err))
    check(len(f.stored()) == 1 and f.spooled() == [], "stored once, spool empty")
    code, out, err = f.run("status", "--state-dir", f.state)
    check(code == 0 and "ca.pem" in out and "scans in the spool: 0" in out, "status: %s %s" % (out, err))


def case_tls_unverified(f):
    f.start_server()
    for extra in ([], ["--ca-file", f.path("other.pem")]):
        code, out, err = f.run("enrol", "--server", f.url(), "--secret", "fleet-secret", "--state-dir", f.state,
                               *extra)
        check(code == 1, "unverified %s: %d %s" % (extra, code, err))
    check(not os.path.exists(os.path.join(f.store, "keys.json")), "the secret reached an unverified server")


def case_plain_http_spool(f):
    f.start_server(tls=False)
    code, out, err = f.run("enrol", "--server", f.url("http"), "--secret", "fleet-secret", "--state-dir", f.state,
                           "--insecure")
    check(code == 0, "enrol: %d %s" % (code, err))
    f.stop_server()
    code, out, err = f.agent_run("--retry-for", "0")
    check(code == 1 and len(f.spooled()) == 1, "server down: %d %s" % (code, err))
    f.start_server(tls=False)
    code, out, err = f.agent_run("--no-scan")
    check(code == 0 and len(f.stored()) == 1 and f.spooled() == [], "delivered: %d %s %s" % (code, out, err))


def task_file():
    # Where Wine's Task Scheduler keeps a registered task, as XML. Wine 8
    # writes the registration and the settings into it, but neither the
    # triggers, the actions nor the principal.
    return os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows", "system32", "tasks", "Veltrix agent")


def read_task():
    with open(task_file(), "rb") as f:
        data = f.read()
    return data.decode("utf-16") if data[:2] in (b"\xff\xfe", b"\xfe\xff") else data.decode("utf-8", "replace")


def case_schedule(f):
    # Refused before the scheduler is asked: a bad time, and a computer not yet enrolled.
    for time in ("24:00", "7:60", "7", "07:5", "ab:cd", "12:00:00"):
        code, out, err = f.run("schedule", "--time", time, "--state-dir", f.state)
        check(code == 2 and "HH:MM" in err, "--time %s: %d %s" % (time, code, err))
    code, out, err = f.run("schedule", "--state-dir", f.state)
    check(code == 2 and "not enrolled" in err, "not enrolled: %d %s" % (code, err))
    check(not os.path.exists(task_file()), "a refused schedule registered a task")

    f.start_server()
    f.enrol()
    code, out, err = f.run("schedule", "--time", "3:30", "--state-dir", f.state)
    drawn = re.search(r"daily at (\d\d):(\d\d) ", out)
    check(code == 0 and drawn, "schedule: %d %s %s" % (code, out, err))
    at = "%s:%s" % drawn.groups()
    check("03:30" <= at < "04:30", "drawn from the hour after 03:30: " + at)
    task = read_task()
    for part in ("<Author>Veltrix</Author>", "<StartWhenAvailable>true</StartWhenAvailable>",
                 "<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>",
                 "<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>",
                 "<ExecutionTimeLimit>PT2H</ExecutionTimeLimit>"):
        check(part in task, "the task lacks %s:\n%s" % (part, task))
    # Scheduled again: the one task replaced.
    code, out, err = f.run("schedule", "--time", "23:30", "--state-dir", f.state)
    drawn = re.search(r"daily at (\d\d:\d\d) ", out)
    check(code == 0 and drawn and (drawn.group(1) >= "23:30" or drawn.group(1) < "00:30"), "rescheduled: " + out + err)
    check(os.listdir(os.path.dirname(task_file())) == ["Veltrix agent"], "tasks: %s" % os.listdir(os.path.dirname(task_file())))

    code, out, err = f.run("unschedule")
    check(code == 0 and not os.path.exists(task_file()), "unschedule: %d %s %s" % (code, out, err))
    code, out, err = f.run("unschedule")
    check(code == 1 and "no scheduled task" in err, "unschedule without a task: %d %s" % (code, err))


if __name__ == "__main__":
    sys.exit(base.run_case(sys.argv, "wine_agent_test.py CASE WINE VELTRIX-COM", base.cases_of(globals()), WineFixture))
