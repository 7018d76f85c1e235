#!/usr/bin/python3
"""The agent as a real process against a fleet server on loopback over TLS,
its certificates made here with openssl: enrolment, uploads, and what
happens to the spool when the server is away, busy, killed mid-upload,
refuses the key, or cannot be verified.

Usage: agent_process_test.py CASE PATH-TO-VELTRIX PATH-TO-VELTRIX-AGENT
"""
import glob
import gzip
import json
import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "fleet_test_server.py")


class Failed(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failed(what)


class Fixture:
    def __init__(self, veltrix, agent):
        self.veltrix = veltrix
        self.agent = agent
        self.work = tempfile.mkdtemp(prefix="veltrix-agent-test-")
        self.store = os.path.join(self.work, "store")
        self.state = os.path.join(self.work, "state")
        self.server = None
        self.port = 0
        self.make_certificates()

    def openssl(self, *arguments):
        subprocess.run(["openssl", *arguments], check=True, cwd=self.work,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def make_certificates(self):
        # A certificate authority of the test's own, and the server's
        # certificate for 127.0.0.1 signed by it.
        self.openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=test fleet CA",
                     "-keyout", "ca.key", "-out", "ca.pem")
        self.openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1",
                     "-keyout", "server.key", "-out", "server.csr")
        with open(os.path.join(self.work, "san.ext"), "w") as f:
            f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n")
        self.openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                     "-days", "2", "-extfile", "san.ext", "-out", "server.pem")
        # Another authority, which signed nothing the server shows.
        self.openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=other CA",
                     "-keyout", "other.key", "-out", "other.pem")

    def path(self, name):
        return os.path.join(self.work, name)

    def start_server(self, *options, tls=True):
        port_file = self.path("port")
        if os.path.exists(port_file):
            os.remove(port_file)
        command = ["/usr/bin/python3", SERVER, "--store", self.store, "--port-file", port_file,
                   "--port", str(self.port), *options]
        if tls:
            command += ["--cert", self.path("server.pem"), "--key", self.path("server.key")]
        self.server = subprocess.Popen(command)
        for _ in range(200):
            if os.path.exists(port_file):
                with open(port_file) as f:
                    self.port = int(f.read())
                return
            check(self.server.poll() is None, "the test server did not start")
            time.sleep(0.05)
        raise Failed("the test server did not start in 10 s")

    def stop_server(self, sig=signal.SIGTERM):
        if self.server and self.server.poll() is None:
            self.server.send_signal(sig)
            self.server.wait(timeout=10)
        self.server = None

    def url(self, scheme="https"):
        return "%s://127.0.0.1:%d" % (scheme, self.port)

    def run(self, *arguments, program=None, timeout=120):
        # In the test's own folder, so that a report written by mistake is seen there.
        result = subprocess.run([program or self.agent, *arguments], capture_output=True, text=True,
                                timeout=timeout, cwd=self.work)
        return result.returncode, result.stdout, result.stderr

    def enrol(self, *extra):
        code, out, err = self.run("enrol", "--server", self.url(), "--secret", "fleet-secret",
                                  "--ca-file", self.path("ca.pem"), "--state-dir", self.state, *extra)
        check(code == 0, "enrol: exit %d, %s %s" % (code, out, err))
        return out, err

    def agent_run(self, *extra, timeout=120):
        return self.run("run", "--no-software", "--state-dir", self.state, *extra, timeout=timeout)

    def stored(self):
        return sorted(glob.glob(os.path.join(self.store, "scans", "*.json")))

    def spooled(self):
        return sorted(glob.glob(os.path.join(self.state, "spool", "*.json.gz")))

    def uploads_logged(self):
        try:
            with open(os.path.join(self.store, "requests.log")) as f:
                return [line.split() for line in f if line.startswith("POST /api/v1/scans")]
        except FileNotFoundError:
            return []

    def close(self):
        self.stop_server(signal.SIGKILL)
        shutil.rmtree(self.work, ignore_errors=True)


def case_enrol_and_upload(f):
    f.start_server()
    out, err = f.enrol()
    check("enrolled with " + f.url() in out, "enrol says where: " + out)
    state_file = os.path.join(f.state, "agent.json")
    with open(state_file) as s:
        state = json.load(s)
    check(state["server"] == f.url() and state["agent-id"] and state["key"], "state: %s" % state)
    # The key is this computer's password: only root reads it, and no output shows it.
    check(stat.S_IMODE(os.stat(f.state).st_mode) == 0o700, "state folder mode %o" % os.stat(f.state).st_mode)
    check(stat.S_IMODE(os.stat(state_file).st_mode) == 0o600, "state file mode")
    check(stat.S_IMODE(os.stat(os.path.join(f.state, "ca.pem")).st_mode) == 0o600, "ca.pem mode")
    check(state["key"] not in out + err, "the key is printed")

    code, out, err = f.agent_run()
    check(code == 0, "run: exit %d, %s %s" % (code, out, err))
    check("1 stored, 0 already held, 0 waiting in the spool" in out, "run says what it did: " + out)
    check(len(f.stored()) == 1 and f.spooled() == [], "one scan at the server, none in the spool")
    with open(f.stored()[0], "rb") as s:
        snapshot = json.loads(s.read())
    check(snapshot["veltrix-snapshot"] == 2 and "namespaces" in snapshot, "the upload is a snapshot")
    # When and whose it is, and the same machine that enrolled.
    check(snapshot["taken-at"][:2] == "20" and snapshot["taken-at"][-6] in "+-", "taken-at: %s" % snapshot.get("taken-at"))
    with open(os.path.join(f.store, "keys.json")) as k:
        enrolled = list(json.load(k).values())
    check(len(enrolled) == 1 and enrolled[0]["agent-id"] == state["agent-id"], "enrolled: %s" % enrolled)
    check(enrolled[0]["machine"] == snapshot["machine"] and snapshot["machine"].get("host-name"),
          "enrolled as %s, scanned as %s" % (enrolled[0]["machine"], snapshot["machine"]))
    check("Win32_ComputerSystem" in json.dumps(snapshot["namespaces"]), "the snapshot holds the scan's classes")
    check(not glob.glob(os.path.join(f.state, "*.htm")) and not glob.glob(os.path.join(f.work, "*.htm")),
          "a report file was left")

    # Enrolling again changes nothing unless asked.
    out, err = f.enrol()
    check("already enrolled" in out, "second enrol: " + out)
    with open(state_file) as s:
        check(json.load(s)["key"] == state["key"], "a second enrol changed the key")

    # Through the command line, which becomes the agent's program.
    code, out, err = f.run("agent", "status", "--state-dir", f.state, program=f.veltrix)
    check(code == 0 and state["agent-id"] in out and "scans in the spool: 0" in out, "status: %s %s" % (out, err))


def case_server_down(f):
    f.start_server()
    f.enrol()
    f.stop_server()
    code, out, err = f.agent_run("--retry-for", "0")
    check(code == 1, "server down: exit %d, %s" % (code, err))
    check(len(f.spooled()) == 1, "the scan waits in the spool")
    check("1 waiting in the spool" in err, "says what waits: " + err)
    f.start_server()
    code, out, err = f.agent_run("--no-scan")
    check(code == 0, "next run: exit %d, %s" % (code, err))
    check(len(f.stored()) == 1 and f.spooled() == [], "delivered once from the spool")


def case_busy_then_stored(f):
    f.start_server("--busy", "2")
    f.enrol()
    started = time.monotonic()
    code, out, err = f.agent_run("--retry-for", "30")
    took = time.monotonic() - started
    check(code == 0, "busy server: exit %d, %s" % (code, err))
    statuses = [line[2] for line in f.uploads_logged()]
    check(statuses == ["503", "503", "201"], "uploads answered %s" % statuses)
    # Retry-After: 1 is kept: two waits of at least a second each.
    check(took >= 2, "the agent came back after %.2f s, before Retry-After" % took)
    check(len(f.stored()) == 1 and f.spooled() == [], "stored once, spool empty")


def case_busy_past_retry_time(f):
    f.start_server("--busy", "1000")
    f.enrol()
    code, out, err = f.agent_run("--retry-for", "3")
    check(code == 1, "always busy: exit %d" % code)
    check(len(f.spooled()) == 1 and f.stored() == [], "kept in the spool")
    check("HTTP 503: store unavailable" in err, "names the server's reason: " + err)


def case_killed_during_upload(f):
    f.start_server("--mode", "hang-scans")
    f.enrol()
    agent = subprocess.Popen([f.agent, "run", "--no-software", "--retry-for", "0", "--state-dir", f.state],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    for _ in range(400):
        if any(line[0] == "HANG" for line in _log_lines(f)):
            break
        time.sleep(0.05)
    else:
        agent.kill()
        raise Failed("the upload never reached the server")
    f.stop_server(signal.SIGKILL)
    out, err = agent.communicate(timeout=60)
    check(agent.returncode == 1, "killed server: exit %d, %s" % (agent.returncode, err))
    check(len(f.spooled()) == 1 and f.stored() == [], "the scan is in the spool")
    f.start_server()
    code, out, err = f.agent_run("--no-scan")
    check(code == 0, "next run: exit %d, %s" % (code, err))
    check(len(f.stored()) == 1 and f.spooled() == [], "delivered once")
    # Sending it again is harmless: the server already holds it.
    spool = os.path.join(f.state, "spool")
    with open(f.stored()[0], "rb") as s, open(os.path.join(spool, "20260101T000000.000000Z-00000001.json.gz"),
                                              "wb") as again:
        again.write(gzip.compress(s.read()))
    code, out, err = f.agent_run("--no-scan")
    check(code == 0 and "0 stored, 1 already held" in out, "again: %s %s" % (out, err))
    check(len(f.stored()) == 1, "stored twice")


def _log_lines(f):
    try:
        with open(os.path.join(f.store, "requests.log")) as log:
            return [line.split() for line in log]
    except FileNotFoundError:
        return []


def case_revoked_key(f):
    f.start_server()
    f.enrol()
    f.stop_server()
    f.start_server("--mode", "revoked")
    code, out, err = f.agent_run()
    check(code == 2, "revoked key: exit %d" % code)
    lines = [line for line in err.splitlines() if line]
    check(len(lines) == 1 and "refused this computer's key" in lines[0], "one line: %s" % lines)
    check(len(f.spooled()) == 1, "the spool is kept")


def case_refused_secret(f):
    f.start_server("--mode", "refuse-secret")
    code, out, err = f.run("enrol", "--server", f.url(), "--secret", "wrong", "--ca-file", f.path("ca.pem"),
                           "--state-dir", f.state)
    check(code == 2 and "refused the enrolment secret" in err, "refused secret: %d %s" % (code, err))
    check(not os.path.exists(os.path.join(f.state, "agent.json")), "a state was kept")


def case_unverified_server(f):
    f.start_server()
    # The system's trust store does not know the test's authority, nor does another one.
    for extra in ([], ["--ca-file", f.path("other.pem")]):
        code, out, err = f.run("enrol", "--server", f.url(), "--secret", "fleet-secret", "--state-dir", f.state,
                               *extra)
        check(code == 1 and "certificate" in err.lower(), "unverified %s: %d %s" % (extra, code, err))
        check(not os.path.exists(os.path.join(f.state, "agent.json")), "enrolled with an unverified server")
    check(not os.path.exists(os.path.join(f.store, "keys.json")), "the secret reached the server")
    code, out, err = f.run("enrol", "--server", f.url(), "--secret", "fleet-secret", "--state-dir", f.state,
                           "--insecure")
    check(code == 0, "--insecure: %d %s" % (code, err))
    code, out, err = f.agent_run()
    check(code == 0 and len(f.stored()) == 1, "--insecure is remembered: %d %s" % (code, err))


def case_plain_http(f):
    f.start_server(tls=False)
    code, out, err = f.run("enrol", "--server", f.url("http"), "--secret", "fleet-secret", "--state-dir", f.state)
    check(code == 2 and "plain http" in err, "http without --insecure: %d %s" % (code, err))
    code, out, err = f.run("enrol", "--server", f.url("http"), "--secret", "fleet-secret", "--state-dir", f.state,
                           "--insecure")
    check(code == 0, "http with --insecure: %d %s" % (code, err))
    code, out, err = f.agent_run()
    check(code == 0 and len(f.stored()) == 1, "upload over http: %d %s" % (code, err))


def case_refused_scan(f):
    f.start_server()
    f.enrol()
    f.stop_server()
    f.start_server("--mode", "refuse-scans")
    code, out, err = f.agent_run()
    check(code == 1 and "refused the scan" in err and "not a snapshot" in err, "refused scan: %d %s" % (code, err))
    check(len(f.spooled()) == 1, "a refused scan is kept")
    # A server that takes it (an upgraded one) gets it with the next run.
    f.stop_server()
    f.start_server()
    code, out, err = f.agent_run()
    # Two scans in the same second are the same scan: stored once, the other "already held".
    check(code == 0 and f.spooled() == [] and len(f.uploads_logged()) == 3, "taken later: %d %s %s" % (code, out, err))


def case_not_enrolled(f):
    code, out, err = f.agent_run()
    check(code == 2 and "not enrolled" in err, "not enrolled: %d %s" % (code, err))


def case_programs(f):
    # Only the agent's program links libcurl; the command line becomes it,
    # and says so when it is missing.
    def needed(program):
        dynamic = subprocess.run(["readelf", "-d", program], capture_output=True, text=True, check=True).stdout
        return [line.split("[")[1].rstrip("]") for line in dynamic.splitlines() if "(NEEDED)" in line]
    check(not any("curl" in name for name in needed(f.veltrix)), "veltrix links libcurl: %s" % needed(f.veltrix))
    check(any(name.startswith("libcurl") for name in needed(f.agent)), "veltrix-agent lacks libcurl")
    alone = f.path("alone")
    os.makedirs(alone)
    shutil.copy(f.veltrix, os.path.join(alone, "veltrix"))
    code, out, err = f.run("agent", "status", program=os.path.join(alone, "veltrix"))
    check(code == 2 and "the agent is not installed (veltrix-agent is missing)" in err, "alone: %d %s" % (code, err))


def case_schedule_elsewhere(f):
    # The Task Scheduler is Windows's; here the command names the package's timer and touches nothing.
    for command in (["schedule", "--time", "03:00", "--state-dir", f.state], ["unschedule"]):
        code, out, err = f.run(*command)
        check(code == 2 and "systemctl enable --now veltrix-agent.timer" in err, "%s: %d %s" % (command, code, err))
    check(not os.path.exists(f.state), "schedule made the state folder")


def run_case(argv, usage, cases, make_fixture):
    """Runs the case argv[1] names on the fixture made of argv[2:]; the exit code."""
    if len(argv) != 4 or argv[1] not in cases:
        print("usage: %s; cases: %s" % (usage, " ".join(cases)), file=sys.stderr)
        return 2
    fixture = make_fixture(argv[2], argv[3])
    try:
        cases[argv[1]](fixture)
    except Failed as failure:
        print("FAIL: %s: %s" % (argv[1], failure), file=sys.stderr)
        return 1
    finally:
        fixture.close()
    print("ok: " + argv[1])
    return 0


def cases_of(names):
    return {name[5:]: fn for name, fn in names.items() if name.startswith("case_")}


if __name__ == "__main__":
    sys.exit(run_case(sys.argv, "agent_process_test.py CASE VELTRIX VELTRIX-AGENT", cases_of(globals()), Fixture))
