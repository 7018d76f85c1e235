#!/usr/bin/python3
"""The fleet server as real processes, with faults: killed during an upload,
PostgreSQL stopped and started while agents upload, two servers on one
PostgreSQL. Agents here keep a spool as the real agent does: a scan leaves it
only when the server answered 200 or 201, and goes again with the next run.
Last, the real agent program enrols with the server, uploads a scan of this
machine, keeps its next scan while the store is down and delivers it after.

Starts a private PostgreSQL of its own (it must stop and start it), over a
socket in a private folder; certificates are made with openssl.
Usage: fleet_faults_test.py PATH-TO-VELTRIX-SERVER PATH-TO-VELTRIX-AGENT SNAPSHOT.json
"""
import gzip
import http.client
import json
import os
import pwd
import shutil
import signal
import socket
import sqlite3
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import uuid

PG_BIN = "/usr/lib/postgresql/15/bin"
SKIP = 77


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def check(condition, message):
    if not condition:
        fail(message)


class Postgres:
    """A private PostgreSQL, as an unprivileged user when we are root."""

    def __init__(self, work):
        self.work = work
        self.data = os.path.join(work, "pg-data")
        self.socket = os.path.join(work, "pg-socket")
        self.prefix = []
        if os.getuid() == 0:
            user = "veltrix-pg"
            try:
                pwd.getpwnam(user)
            except KeyError:
                subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", user],
                               check=True)
            self.prefix = ["setpriv", "--reuid=" + user, "--regid=" + user, "--init-groups", "--"]
            os.chmod(work, 0o755)
        for folder in (self.data, self.socket):
            os.mkdir(folder, 0o700)
            if self.prefix:
                shutil.chown(folder, "veltrix-pg", "veltrix-pg")
        self.run("initdb", "-D", self.data, "-U", "veltrix", "--auth=trust", "-E", "UTF8", "--locale=C.UTF-8")
        self.start()
        self.url = "postgresql://veltrix@/postgres?host=%s&port=5432" % self.socket

    def run(self, tool, *args):
        result = subprocess.run(self.prefix + [os.path.join(PG_BIN, tool)] + list(args), cwd="/",
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if result.returncode != 0:
            fail("%s failed: %s" % (tool, result.stdout))

    def start(self):
        self.run("pg_ctl", "-D", self.data, "-l", os.path.join(self.data, "server.log"), "-w", "-t", "60", "-o",
                 "-k %s -c listen_addresses= -p 5432 -c max_connections=60" % self.socket, "start")

    def stop(self):
        self.run("pg_ctl", "-D", self.data, "-m", "fast", "-w", "stop")

    def scalar(self, sql):
        result = subprocess.run([os.path.join(PG_BIN, "psql"), "-X", "-A", "-t", "-h", self.socket, "-U", "veltrix",
                                 "-d", "postgres", "-c", sql], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        check(result.returncode == 0, "psql: " + result.stderr)
        return int(result.stdout.strip())

    def close(self):
        subprocess.run(self.prefix + [os.path.join(PG_BIN, "pg_ctl"), "-D", self.data, "-m", "immediate", "stop"],
                       cwd="/", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


# Every server started, so that a failed check leaves none running.
STARTED = []


class Server:
    def __init__(self, program, db, work, name, cert, key):
        self.program, self.db, self.cert, self.key = program, db, cert, key
        self.log = open(os.path.join(work, name + ".log"), "a+")
        self.process = None
        self.port = free_port()

    def start(self):
        STARTED.append(self)
        self.process = subprocess.Popen([self.program, "run", "--db", self.db, "--listen", "127.0.0.1:%d" % self.port,
                                         "--tls-cert", self.cert, "--tls-key", self.key, "--read-timeout", "5"],
                                        stdout=subprocess.DEVNULL, stderr=self.log)
        deadline = time.time() + 20
        while time.time() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                check(self.process.poll() is None, "the server ended at its start: " + self.text())
                time.sleep(0.05)
        fail("the server did not start listening")

    def kill(self):
        self.process.send_signal(signal.SIGKILL)
        self.process.wait()

    def terminate(self):
        self.process.send_signal(signal.SIGTERM)
        code = self.process.wait(timeout=30)
        check(code == 0, "SIGTERM: exit %d" % code)

    def text(self):
        self.log.flush()
        with open(self.log.name) as f:
            return f.read()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def tls_context(cert):
    context = ssl.create_default_context(cafile=cert)
    context.check_hostname = False
    return context


def request(port, cert, method, path, body=None, headers=None, timeout=20):
    """(status, json, headers), or (None, None, None) when there was no answer."""
    try:
        connection = http.client.HTTPSConnection("127.0.0.1", port, context=tls_context(cert), timeout=timeout)
        connection.request(method, path, body=body, headers=headers or {})
        response = connection.getresponse()
        data = response.read()
        connection.close()
        return response.status, json.loads(data), dict(response.getheaders())
    except (OSError, http.client.HTTPException):
        return None, None, None


class Agent:
    """An agent's state folder in memory: its key and its spool."""

    def __init__(self, name, key):
        self.name, self.key, self.spool = name, key, []
        self.answers = []

    def scan(self, snapshot):
        self.spool.append(gzip.compress(snapshot.encode()))

    def run(self, port, cert):
        """Sends the spool oldest first; stops at the first scan the server did not take."""
        while self.spool:
            status, body, headers = request(port, cert, "POST", "/api/v1/scans", self.spool[0], {
                "Authorization": "Bearer " + self.key, "Content-Type": "application/json",
                "Content-Encoding": "gzip"})
            self.answers.append((status, headers.get("Retry-After") if headers else None))
            if status in (200, 201):
                self.spool.pop(0)
            elif status is None or status == 429 or status >= 500:
                return False
            else:
                fail("%s: upload refused with %s: %s" % (self.name, status, body))
        return True


def enrol(port, cert, secret, name):
    machine = {"host-name": name, "uuid": str(uuid.uuid4()).upper()}
    status, body, _ = request(port, cert, "POST", "/api/v1/enrol", json.dumps({"secret": secret, "machine": machine}),
                              {"Content-Type": "application/json"})
    check(status == 201, "enrol %s: %s %s" % (name, status, body))
    return Agent(name, body["key"]), machine


def snapshot_of(base, machine, index):
    document = dict(base)
    document["veltrix-snapshot"] = 2
    document["machine"] = machine
    document["taken-at"] = "2026-12-%02dT%02d:%02d:00+01:00" % (1 + index // 1440 % 28, index // 60 % 24, index % 60)
    return json.dumps(document)


def make_secret(program, db):
    result = subprocess.run([program, "secret", "create", "--db", db], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True)
    check(result.returncode == 0, "secret create: " + result.stderr)
    return result.stdout.strip()


def killed_during_upload(program, base, work, cert, key):
    db = os.path.join(work, "killed.sqlite")
    server = Server(program, db, work, "killed", cert, key)
    server.start()
    agent, machine = enrol(server.port, cert, make_secret(program, db), "pc-killed")
    agent.scan(snapshot_of(base, machine, 1))
    body = agent.spool[0]
    # Half the upload is on its way when the server dies.
    raw = tls_context(cert).wrap_socket(socket.create_connection(("127.0.0.1", server.port)))
    raw.sendall(("POST /api/v1/scans HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer %s\r\n"
                 "Content-Encoding: gzip\r\nContent-Length: %d\r\n\r\n" % (agent.key, len(body))).encode()
                + body[:len(body) // 2])
    time.sleep(0.3)
    server.kill()
    try:
        raw.sendall(body[len(body) // 2:])
        answer = raw.recv(100)
    except OSError:
        answer = b""
    check(answer == b"", "a killed server answered: %r" % answer)
    check(not agent.run(server.port, cert), "the upload went to a dead server")
    check(len(agent.spool) == 1, "the scan left the spool")
    server.start()
    check(agent.run(server.port, cert), "the next run did not deliver")
    check(agent.answers[-1][0] == 201, "the delivery: %s" % agent.answers)
    # Had the first server stored it before it died, the resend is told so.
    agent.scan(snapshot_of(base, machine, 1))
    check(agent.run(server.port, cert) and agent.answers[-1][0] == 200, "the resend: %s" % agent.answers)
    server.terminate()
    with sqlite3.connect(db) as store:
        count = store.execute("SELECT COUNT(*) FROM scans").fetchone()[0]
    check(count == 1, "the store holds %d scans, expected 1" % count)
    print("killed during an upload: the spool kept it, the next run delivered it, stored once")


def postgres_restarted(program, base, work, cert, key, postgres):
    server = Server(program, postgres.url, work, "restarted", cert, key)
    server.start()
    secret = make_secret(program, postgres.url)
    agents = [enrol(server.port, cert, secret, "pc-restart-%d" % i) for i in range(6)]
    stop = threading.Event()
    made = [0] * len(agents)

    # Each agent scans every tenth of a second and runs, as long as the test
    # lasts; then it runs until its spool is empty.
    def work_of(index):
        agent, machine = agents[index]
        while not stop.is_set():
            agent.scan(snapshot_of(base, machine, made[index]))
            made[index] += 1
            agent.run(server.port, cert)
            time.sleep(0.1)
        deadline = time.time() + 60
        while agent.spool and time.time() < deadline:
            if not agent.run(server.port, cert):
                time.sleep(0.2)

    def answered(status):
        return sum(1 for agent, _ in agents for s, _ in agent.answers if s == status)
    threads = [threading.Thread(target=work_of, args=(i,)) for i in range(len(agents))]
    for thread in threads:
        thread.start()
    deadline = time.time() + 30
    while answered(201) < 12 and time.time() < deadline:
        time.sleep(0.05)
    postgres.stop()
    deadline = time.time() + 30
    while answered(503) < 6 and time.time() < deadline:
        time.sleep(0.05)
    health_down = request(server.port, cert, "GET", "/api/v1/health")
    postgres.start()
    time.sleep(1.0)
    stop.set()
    for thread in threads:
        thread.join()
    total = sum(made)
    check(all(not a.spool for a, _ in agents), "scans were left in the spools: %s" % [len(a.spool) for a, _ in agents])
    statuses = [s for a, _ in agents for s, _ in a.answers]
    retry_after = [r for a, _ in agents for s, r in a.answers if s == 503]
    check(503 in statuses, "no upload was answered 503 during the outage: %s" % statuses)
    check(all(retry_after), "a 503 without Retry-After")
    check(health_down[0] == 503 and health_down[1] == {"status": "store unavailable"},
          "health during the outage: %s" % (health_down,))
    check(request(server.port, cert, "GET", "/api/v1/health")[0] == 200, "health after the outage")
    server.terminate()
    count = postgres.scalar("SELECT COUNT(*) FROM scans")
    check(count == total, "the store holds %d scans, expected %d" % (count, total))
    print("PostgreSQL stopped and started: %d answers 503 meanwhile, all %d scans stored once"
          % (statuses.count(503), total))


def two_servers(program, base, work, cert, key, postgres):
    postgres_db = postgres.url.replace("/postgres?", "/twoservers?")
    subprocess.run([os.path.join(PG_BIN, "createdb"), "-h", postgres.socket, "-U", "veltrix", "twoservers"], check=True)
    first = Server(program, postgres_db, work, "first", cert, key)
    second = Server(program, postgres_db, work, "second", cert, key)
    first.start()
    second.start()
    secret = make_secret(program, postgres_db)
    agents, scans = [], []
    for i in range(8):
        agent, machine = enrol((first, second)[i % 2].port, cert, secret, "pc-two-%d" % i)
        agents.append((agent, machine))
    created = []
    lock = threading.Lock()

    # Every scan goes to both servers at once, as an agent whose answer was
    # lost sends it again to whichever server the balancer picks.
    def send(agent, body, server):
        status, _, _ = request(server.port, cert, "POST", "/api/v1/scans", body, {
            "Authorization": "Bearer " + agent.key, "Content-Encoding": "gzip"})
        with lock:
            created.append(status)
    threads = []
    for n in range(5):
        for agent, machine in agents:
            body = gzip.compress(snapshot_of(base, machine, n).encode())
            scans.append(body)
            for server in (first, second):
                threads.append(threading.Thread(target=send, args=(agent, body, server)))
                threads[-1].start()
        for thread in threads:
            thread.join()
        threads = []
    first.terminate()
    second.terminate()
    check(all(s in (200, 201) for s in created), "answers: %s" % created)
    check(created.count(201) == len(scans), "%d answers 201 for %d scans" % (created.count(201), len(scans)))
    check(created.count(200) == len(scans), "%d answers 200 for %d scans" % (created.count(200), len(scans)))
    result = subprocess.run([os.path.join(PG_BIN, "psql"), "-X", "-A", "-t", "-h", postgres.socket, "-U", "veltrix",
                             "-d", "twoservers", "-c", "SELECT COUNT(*), COUNT(DISTINCT digest) FROM scans"],
                            stdout=subprocess.PIPE, text=True, check=True)
    count, distinct = map(int, result.stdout.strip().split("|"))
    check(count == len(scans) and distinct == len(scans), "the store holds %d scans (%d distinct), expected %d"
          % (count, distinct, len(scans)))
    print("two servers on one PostgreSQL: %d scans each sent to both, each stored once" % len(scans))


def real_agent(program, agent_program, work, cert, key, postgres):
    db = postgres.url.replace("/postgres?", "/realagent?")
    subprocess.run([os.path.join(PG_BIN, "createdb"), "-h", postgres.socket, "-U", "veltrix", "realagent"], check=True)
    server = Server(program, db, work, "real-agent", cert, key)
    server.start()
    state = os.path.join(work, "agent-state")

    def agent(*arguments):
        result = subprocess.run([agent_program, *arguments, "--state-dir", state], capture_output=True, text=True,
                                timeout=120, cwd=work)
        return result.returncode, result.stderr

    def stored(sql):
        return int(subprocess.run([os.path.join(PG_BIN, "psql"), "-X", "-A", "-t", "-h", postgres.socket, "-U",
                                   "veltrix", "-d", "realagent", "-c", sql],
                                  stdout=subprocess.PIPE, text=True, check=True).stdout.strip())
    code, err = agent("enrol", "--server", "https://127.0.0.1:%d" % server.port, "--secret",
                      make_secret(program, db), "--ca-file", cert)
    check(code == 0, "the agent's enrolment: exit %d, %s" % (code, err))
    code, err = agent("run", "--no-software", "--retry-for", "0")
    check(code == 0 and stored("SELECT COUNT(*) FROM scans") == 1, "the agent's first run: exit %d, %s" % (code, err))
    # Scans taken within one second are the same bytes, which the store holds once.
    time.sleep(1.1)
    postgres.stop()
    code, err = agent("run", "--no-software", "--retry-for", "0")
    check(code == 1 and "1 waiting in the spool" in err, "a run while the store is down: exit %d, %s" % (code, err))
    postgres.start()
    code, err = agent("run", "--no-scan", "--retry-for", "10")
    check(code == 0, "the run after the outage: exit %d, %s" % (code, err))
    server.terminate()
    check(stored("SELECT COUNT(*) FROM scans") == 2 and stored("SELECT COUNT(*) FROM machines") == 1,
          "the store does not hold both scans of one machine: %d scans, %d machines"
          % (stored("SELECT COUNT(*) FROM scans"), stored("SELECT COUNT(*) FROM machines")))
    check(not os.listdir(os.path.join(state, "spool")), "the spool is not empty after the delivery")
    print("the real agent: enrolled, uploaded, kept its scan while the store was down, delivered it after")


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    program, agent_program, snapshot = sys.argv[1:]
    if not os.path.exists(os.path.join(PG_BIN, "initdb")):
        print("skipped: PostgreSQL 15 is not installed", file=sys.stderr)
        return SKIP
    with open(snapshot) as f:
        base = json.load(f)
    work = tempfile.mkdtemp(prefix="veltrix-fleet-faults-")
    postgres = None
    try:
        cert, key = os.path.join(work, "cert.pem"), os.path.join(work, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                        "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        killed_during_upload(program, base, work, cert, key)
        postgres = Postgres(work)
        postgres_restarted(program, base, work, cert, key, postgres)
        two_servers(program, base, work, cert, key, postgres)
        real_agent(program, agent_program, work, cert, key, postgres)
    finally:
        for server in STARTED:
            if server.process.poll() is None:
                server.kill()
        if postgres:
            postgres.close()
        shutil.rmtree(work, ignore_errors=True)
    print("fleet faults: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
