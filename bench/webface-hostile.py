#!/usr/bin/env python3
"""The web face under hostile and heavy clients. A measurement, not a test: it
prints figures and judges nothing.

    bench/webface-hostile.py SERVER_BINARY [--quick]

It starts a private ngircd and SERVER_BINARY (web face on a free 127.0.0.1
port, 32765 items) in a temp folder, then measures:
  1. slow clients that never finish their headers (300 from 10 addresses, 2000
     from 100): /livez, / and /metrics latency from another address meanwhile,
     and how many of the slow connections the server closed;
  2. wrk on / and /catalogue.json, 16 and 256 connections spread over 16
     loopback addresses (bench/bindsource.c, built at run time), against the
     server and against nginx serving the very same bytes;
  3. resident memory before, during and after 100 + 100 distinct searches;
  4. 40 addresses trying 5 wrong admin passwords each at once: answers by
     status, wall time, and /livez latency meanwhile;
  5. 64 keep-alive connections (4 addresses) each asking searches not asked
     before, in words with accents: /livez latency meanwhile, against /livez
     on the same server idle.
--quick shortens the load (12 s of slow clients, wrk -d3s, 10 s of searches).
Name parts to run only those: bench/webface-hostile.py SERVER 5

Needs python3, cc, ngircd, wrk and nginx (Debian: apt-get install ngircd wrk
nginx-light). Everything listens on, and connects from, 127.x addresses only.
"""

import http.client
import math
import os
import re
import resource
import selectors
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
PASSWORD = "Quiet harbour lantern 7"
ITEMS = 32765


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return time.monotonic()
        time.sleep(0.1)
    raise RuntimeError("timed out waiting for " + what)


def get(port, path, source="127.0.0.1", timeout=3.0, method="GET", body=None, headers=None):
    """One request on a fresh connection: (status or None, headers, body, ms).
    A timeout counts as timeout * 1000 ms."""
    start = time.monotonic()
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout, source_address=(source, 0))
    try:
        connection.request(method, path, body=body, headers=headers or {})
        response = connection.getresponse()
        data = response.read()
        return response.status, response.getheaders(), data, (time.monotonic() - start) * 1000
    except socket.timeout:
        return None, [], b"", timeout * 1000
    except (OSError, http.client.HTTPException):
        return None, [], b"", (time.monotonic() - start) * 1000
    finally:
        connection.close()


def percentile(values, p):
    """Nearest rank."""
    ordered = sorted(values)
    return ordered[max(0, math.ceil(p / 100 * len(ordered)) - 1)] if ordered else float("nan")


def latency_line(name, samples):
    """samples: (ms, ok) pairs."""
    ms = [m for m, _ in samples]
    failed = sum(1 for _, ok in samples if not ok)
    return (f"{name:<16} p50 {percentile(ms, 50):7.1f} ms  p99 {percentile(ms, 99):7.1f} ms  "
            f"max {max(ms, default=float('nan')):7.1f} ms  failed {failed} of {len(samples)}")


class Prober(threading.Thread):
    """Asks for one path from its own address, a fresh connection each time,
    until stopped; records (ms, answered 200) for each request."""

    def __init__(self, port, path, source):
        super().__init__(daemon=True)
        self.port, self.path, self.source = port, path, source
        self.samples = []
        self.halt = threading.Event()
        self.start()

    def run(self):
        while not self.halt.is_set():
            status, _, _, ms = get(self.port, self.path, self.source)
            self.samples.append((ms, status == 200))
            self.halt.wait(0.05)

    def stop(self):
        self.halt.set()
        self.join()
        return self.samples


class SlowCrowd(threading.Thread):
    """Clients that send a partial GET and then one more header line every 5 s,
    never finishing. Counts the connections the server closed."""

    START = b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: slow\r\n"

    def __init__(self, port, addresses, per_address):
        super().__init__(daemon=True)
        self.selector = selectors.DefaultSelector()
        self.open, self.closed, self.never_connected = set(), 0, 0
        self.halt = threading.Event()
        for address in addresses:
            for _ in range(per_address):
                s = socket.socket()
                s.setblocking(False)
                s.bind((address, 0))
                s.connect_ex(("127.0.0.1", port))
                self.selector.register(s, selectors.EVENT_WRITE)
        self.start()

    def lose(self, s, connected=True):
        self.selector.unregister(s)
        s.close()
        self.open.discard(s)
        if connected:
            self.closed += 1
        else:
            self.never_connected += 1

    def run(self):
        next_line = time.monotonic() + 5
        while not self.halt.is_set():
            for key, _ in self.selector.select(timeout=0.2):
                s = key.fileobj
                if key.events == selectors.EVENT_WRITE:  # the connect finished
                    if s.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR):
                        self.lose(s, connected=False)
                        continue
                    try:
                        s.send(self.START)
                    except OSError:
                        self.lose(s)
                        continue
                    self.open.add(s)
                    self.selector.modify(s, selectors.EVENT_READ)
                    continue
                try:
                    data = s.recv(65536)
                except BlockingIOError:
                    continue
                except OSError:
                    data = b""
                if not data:
                    self.lose(s)
            if time.monotonic() >= next_line:
                next_line += 5
                for s in list(self.open):
                    try:
                        s.send(b"X-a: b\r\n")
                    except BlockingIOError:
                        pass
                    except OSError:
                        self.lose(s)

    def stop(self):
        self.halt.set()
        self.join()
        for key in list(self.selector.get_map().values()):
            key.fileobj.close()
        self.selector.close()


def stop(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def rss_kib(pid, field="VmRSS"):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


class Bench:
    def __init__(self, server, quick):
        self.server, self.quick = server, quick
        self.work = tempfile.mkdtemp(prefix="webface-hostile-")
        os.chmod(self.work, 0o755)  # nginx's worker reads its files from here
        self.processes, self.process = [], None

    def spawn(self, arguments, log_name, mode="w"):
        with open(os.path.join(self.work, log_name), mode) as log:
            process = subprocess.Popen(arguments, stdout=log, stderr=log)
        self.processes.append(process)
        return process

    def close(self):
        for process in reversed(self.processes):
            stop(process)
        if os.environ.get("KEEP_WORK") is None:
            shutil.rmtree(self.work, ignore_errors=True)
        else:
            print(f"(work folder kept: {self.work})")

    def prepare(self):
        """A private ngircd with #links, and a data folder for the server."""
        irc_port = free_port()
        irc = os.path.join(self.work, "irc")
        os.makedirs(os.path.join(irc, "include"))
        open(os.path.join(irc, "motd"), "w").close()
        for path in (irc, os.path.join(irc, "include")):
            os.chmod(path, 0o755)
        with open(os.path.join(irc, "ngircd.conf"), "w") as conf:
            conf.write(f"[Global]\nName = irc.test\nInfo = test\nListen = 127.0.0.1\nPorts = {irc_port}\n"
                       f"MotdFile = {irc}/motd\n[Limits]\nMaxConnectionsIP = 0\nMaxJoins = 0\nMaxPenaltyTime = 0\n"
                       f"[Options]\nDNS = no\nIdent = no\nPAM = no\nIncludeDir = {irc}/include\n")
        self.spawn(["ngircd", "-n", "-f", os.path.join(irc, "ngircd.conf")], "ngircd.log")

        def listening():
            try:
                socket.create_connection(("127.0.0.1", irc_port), timeout=1).close()
                return True
            except OSError:
                return False

        wait_until(listening, 20, "ngircd")
        self.data = os.path.join(self.work, "data")
        os.makedirs(self.data)
        with open(os.path.join(self.data, "descriptions.dat"), "w", newline="\r\n") as descriptions, \
                open(os.path.join(self.data, "urls.dat"), "w", newline="\r\n") as urls:
            for item in range(ITEMS):
                descriptions.write(f"Item {item} about links and things\n")
                urls.write(f"https://example.org/page-{item}\n")
        self.hashed = subprocess.run([self.server, "--hash-password"], input=PASSWORD + "\n", capture_output=True,
                                     text=True, check=True).stdout.strip()
        self.irc_port = irc_port

    def fresh_server(self):
        """Stops the server if it runs and starts it anew on a new port, so that
        no part of the bench inherits what the one before left behind."""
        if self.process:
            stop(self.process)
        self.port = free_port()
        settings = os.path.join(self.data, "network.conf")
        with open(settings, "w") as conf:
            conf.write(f"http-listen = 127.0.0.1:{self.port}\n{self.hashed}\nprotocol = irc\n"
                       f"account = linkdesk@127.0.0.1\nroom = #links\noption.port = {self.irc_port}\nsend-rate = 0\n")
        os.chmod(settings, 0o600)
        self.process = self.spawn([self.server, "--data-dir", self.data], "server.log", mode="a")
        wait_until(lambda: get(self.port, "/readyz")[0] == 200, 60, "the server's /readyz")

    def livez_again(self, source, limit=35):
        """How long until /livez answers 200 again from source, in words."""
        start = time.monotonic()
        try:
            return f"{wait_until(lambda: get(self.port, '/livez', source)[0] == 200, limit, '/livez') - start:.1f} s"
        except RuntimeError:
            return f"not within {limit} s"

    def slowloris(self):
        seconds = 12 if self.quick else 30
        print(f"1. Slow clients (a header line every 5 s, never finished), {seconds} s each;")
        print("   /livez, / and /metrics asked meanwhile from 127.0.0.250, one connection each, 3 s timeout")
        for count, address_count in ((300, 10), (2000, 100)):
            self.fresh_server()
            addresses = [f"127.0.0.{10 + n}" for n in range(address_count)]
            crowd = SlowCrowd(self.port, addresses, count // address_count)
            time.sleep(2)  # let the crowd connect and send its first lines
            probers = [Prober(self.port, path, "127.0.0.250") for path in ("/livez", "/", "/metrics")]
            time.sleep(seconds)
            samples = [(prober.path, prober.stop()) for prober in probers]
            closed, never = crowd.closed, crowd.never_connected
            crowd.stop()
            print(f"   {count} slow connections from {address_count} addresses ({count // address_count} each): "
                  f"closed by the server {closed}, never connected {never}")
            for path, taken in samples:
                print("     " + latency_line(path, taken))
            print(f"     /livez answered 200 again {self.livez_again('127.0.0.250')} after the slow clients left")

    def wrk(self, port, path, connections, sources):
        seconds = 3 if self.quick else 10
        environment = dict(os.environ, LD_PRELOAD=self.shim, BIND_SOURCES=",".join(sources))
        output = subprocess.run(["wrk", "-t2", f"-c{connections}", f"-d{seconds}s", "--timeout", "10s",
                                 f"http://127.0.0.1:{port}{path}"], env=environment, capture_output=True,
                                text=True).stdout
        rate = re.search(r"Requests/sec:\s+([\d.]+)", output)
        errors = re.search(r"Socket errors: (.*)", output)
        non2xx = re.search(r"Non-2xx or 3xx responses: (\d+)", output)
        notes = ", ".join(filter(None, [errors and errors.group(1), non2xx and f"non-2xx {non2xx.group(1)}"]))
        return float(rate.group(1)) if rate else float("nan"), notes

    def start_nginx(self):
        root = os.path.join(self.work, "www")
        os.makedirs(root)
        for path, name in (("/", "index.html"), ("/catalogue.json", "catalogue.json")):
            status, _, body, _ = get(self.port, path, timeout=30)
            if status != 200:
                raise RuntimeError(f"the server answered {status} for {path}")
            with open(os.path.join(root, name), "wb") as file:
                file.write(body)
            os.chmod(os.path.join(root, name), 0o644)
        os.chmod(root, 0o755)
        self.nginx_port = free_port()
        nginx = os.path.join(self.work, "nginx")
        os.makedirs(nginx)
        temp = " ".join(f"{kind}_temp_path {nginx}/{kind};" for kind in ("client_body", "proxy", "fastcgi",
                                                                          "uwsgi", "scgi"))
        conf = os.path.join(nginx, "nginx.conf")
        with open(conf, "w") as file:
            file.write(f"worker_processes 1;\npid {nginx}/nginx.pid;\nerror_log {nginx}/error.log;\n"
                       f"events {{ worker_connections 4096; }}\n"
                       f"http {{\n  access_log off;\n  {temp}\n  keepalive_requests 1000000;\n"
                       f"  types {{ text/html html; application/json json; }}\n  charset utf-8;\n"
                       f"  charset_types application/json;\n"
                       f"  server {{ listen 127.0.0.1:{self.nginx_port}; root {root}; index index.html; }}\n}}\n")
        self.spawn(["nginx", "-e", f"{nginx}/error.log", "-c", conf, "-p", nginx, "-g", "daemon off;"],
                   "nginx.log")
        wait_until(lambda: get(self.nginx_port, "/")[0] == 200, 20, "nginx")

    def throughput(self):
        self.shim = os.path.join(self.work, "bindsource.so")
        subprocess.run(["cc", "-O2", "-shared", "-fPIC", "-o", self.shim, os.path.join(HERE, "bindsource.c"),
                        "-ldl"], check=True)
        self.fresh_server()
        self.start_nginx()
        sources = [f"127.0.3.{n}" for n in range(1, 17)]
        print(f"\n2. wrk -t2 -d{3 if self.quick else 10}s, connections spread over {len(sources)} source addresses")
        print(f"   {'path':<16} {'conns':>5} {'server req/s':>13} {'nginx req/s':>12} {'server/nginx':>13}")
        for path in ("/", "/catalogue.json"):
            for connections in (16, 256):
                self.fresh_server()  # a run that leaves connections stuck would spoil the next one
                ours, our_notes = self.wrk(self.port, path, connections, sources)
                theirs, their_notes = self.wrk(self.nginx_port, path, connections, sources)
                notes = "; ".join(filter(None, [our_notes and f"server: {our_notes}",
                                                their_notes and f"nginx: {their_notes}"]))
                print(f"   {path:<16} {connections:>5} {ours:>13.0f} {theirs:>12.0f} {ours / theirs if theirs else math.nan:>13.2f}"
                      + (f"   ({notes})" if notes else ""))

    def memory(self):
        self.fresh_server()
        pid = self.process.pid
        before = rss_kib(pid)
        peak, done = before, threading.Event()

        def sample():
            nonlocal peak
            while not done.is_set():
                peak = max(peak, rss_kib(pid))
                done.wait(0.02)

        sampler = threading.Thread(target=sample, daemon=True)
        sampler.start()
        failed = 0
        for n in range(100):
            failed += get(self.port, f"/catalogue.json?q={n}", timeout=30)[0] != 200
            failed += get(self.port, f"/?q=word{n}", timeout=30)[0] != 200
        done.set()
        sampler.join()
        time.sleep(2)
        print("\n3. Resident memory around 100 /catalogue.json?q=N and 100 /?q=wordN"
              + (f" ({failed} not answered 200)" if failed else ""))
        print(f"   before {before / 1024:.1f} MiB, peak sampled {peak / 1024:.1f} MiB, after {rss_kib(pid) / 1024:.1f}"
              f" MiB (VmHWM {rss_kib(pid, 'VmHWM') / 1024:.1f} MiB)")

    def login_flood(self):
        statuses, lock = {}, threading.Lock()

        def tries(source):
            status, headers, body, _ = get(self.port, "/admin", source, timeout=60)
            for attempt in range(5):
                token = re.search(rb'name="csrf" value="([0-9a-fA-F]+)"', body)
                cookie = next((v.split(";")[0] for k, v in headers
                               if k.lower() == "set-cookie" and v.startswith("valdrin_login=")), "")
                form = urllib.parse.urlencode({"password": f"wrong {source} {attempt}",
                                               "csrf": token.group(1).decode() if token else ""})
                status, headers, body, _ = get(self.port, "/admin/login", source, timeout=60, method="POST",
                                               body=form, headers={"Cookie": cookie, "Content-Type":
                                                                   "application/x-www-form-urlencoded"})
                what = f"{status}" + (" (form expired)" if b"expired" in body else "") if status else "no answer"
                with lock:
                    statuses[what] = statuses.get(what, 0) + 1

        self.fresh_server()
        prober = Prober(self.port, "/livez", "127.0.0.251")
        threads = [threading.Thread(target=tries, args=(f"127.0.2.{n}",), daemon=True) for n in range(1, 41)]
        start = time.monotonic()
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        wall = time.monotonic() - start
        samples = prober.stop()
        print("\n4. Login flood: 40 addresses x 5 wrong passwords, all at once")
        print(f"   wall time {wall:.1f} s, {sum(statuses.values()) / wall:.1f} answers/s")
        for what, count in sorted(statuses.items()):
            print(f"   {what}: {count} ({count / wall:.1f}/s)")
        print("   " + latency_line("/livez meanwhile", samples))


    def uncached_searches(self):
        self.fresh_server()
        seconds = 10 if self.quick else 30
        idle = Prober(self.port, "/livez", "127.0.0.250")
        time.sleep(seconds / 3)
        idle_samples = idle.stop()
        answered, failed, lock, halt = [0], [0], threading.Lock(), threading.Event()

        def searcher(source, number):
            connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30, source_address=(source, 0))
            n = 0
            while not halt.is_set():
                n += 1
                words = urllib.parse.quote(f"Ünïcödé café {number}x{n} straße")
                try:
                    connection.request("GET", f"/?q={words}")
                    response = connection.getresponse()
                    response.read()
                    ok = response.status == 200
                except (OSError, http.client.HTTPException):
                    ok = False
                    connection.close()
                    connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30,
                                                            source_address=(source, 0))
                with lock:
                    (answered if ok else failed)[0] += 1
            connection.close()

        threads = [threading.Thread(target=searcher, args=(f"127.0.3.{1 + n % 4}", n), daemon=True)
                   for n in range(64)]
        for thread in threads:
            thread.start()
        time.sleep(1)
        prober = Prober(self.port, "/livez", "127.0.0.250")
        time.sleep(seconds)
        samples = prober.stop()
        halt.set()
        for thread in threads:
            thread.join()
        print(f"\n5. 64 connections asking searches not asked before (accented words), {seconds} s")
        print(f"   searches answered {answered[0]} ({answered[0] / (seconds + 1):.0f}/s), failed {failed[0]}")
        print("   " + latency_line("/livez idle", idle_samples))
        print("   " + latency_line("/livez meanwhile", samples))
        idle_p99 = percentile([ms for ms, _ in idle_samples], 99)
        print(f"   p99 meanwhile / p99 idle: {percentile([ms for ms, _ in samples], 99) / idle_p99:.2f}")


def main():
    arguments = [a for a in sys.argv[1:] if a != "--quick"]
    parts = {int(a) for a in arguments[1:] if a.isdigit()}
    arguments = arguments[:1]
    if len(arguments) != 1 or not os.access(arguments[0], os.X_OK):
        sys.exit(f"usage: {sys.argv[0]} SERVER_BINARY [--quick] [PART...]")
    for tool in ("ngircd", "wrk", "nginx", "cc"):
        if not shutil.which(tool):
            sys.exit(f"{sys.argv[0]}: {tool} is missing (apt-get install ngircd wrk nginx-light gcc)")
    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    bench = Bench(os.path.abspath(arguments[0]), "--quick" in sys.argv)
    try:
        bench.prepare()
        print(f"Web face of {arguments[0]} on 127.0.0.1, {ITEMS} items, a fresh server for each part"
              + (", quick run" if bench.quick else "") + "\n")
        for number, part in enumerate([bench.slowloris, bench.throughput, bench.memory, bench.login_flood,
                                       bench.uncached_searches], start=1):
            if not parts or number in parts:
                part()
    except KeyboardInterrupt:
        sys.exit(f"{sys.argv[0]}: interrupted")
    except (RuntimeError, subprocess.CalledProcessError) as error:
        log = os.path.join(bench.work, "server.log")
        if os.path.exists(log):
            with open(log, errors="replace") as file:
                sys.stderr.write("".join(file.readlines()[-20:]))
        sys.exit(f"{sys.argv[0]}: {error}")
    finally:
        bench.close()


if __name__ == "__main__":
    main()
