"""Whole-process benchmark of kestro-agent --mcp through pipes, beside a trivial C
server built from bench/trivial_server.c in the same run, so ratios are what count.

  start-to-first-reply: spawn the server, send one ping, read its reply (median of N runs);
                        also for the trivial server linked with ICU and libstdc++, the
                        agent's floor, since it needs both before its first reply, and
                        with libcurl too; and for the agent with a manifest to fetch
                        first from a server on the loopback, as a real start does
  ping burst:           stream many pings through one server, configuration reloaded before each
  listing:              list_local_files on 10 000 files, the tools/call of its first page
                        (200 files, the folder still read and sorted whole), against
                        `find -printf` of the same folder (names, sizes, dates)

Usage: python3 bench/mcp_process.py [build-dir] [other kestro-agent binaries to compare...]
"""
import http.server
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

PING = b'{"jsonrpc":"2.0","id":1,"method":"ping"}\n'
HERE = os.path.dirname(os.path.abspath(__file__))


def environment(home):
    config = os.path.join(home, ".config", "Kestro Agent")
    os.makedirs(config, exist_ok=True)
    with open(os.path.join(config, "config.json"), "w") as f:
        json.dump({"baseUrl": "http://127.0.0.1:9", "token": "bench", "userName": "", "userEmail": "",
                   "clientId": "", "configuredPath": ""}, f)
    # The file is older than a clock step when the burst starts, as the
    # tray application's last write is in practice.
    past = time.time() - 5
    os.utime(os.path.join(config, "config.json"), (past, past))
    return dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"), XDG_RUNTIME_DIR=home,
                KESTRO_AGENT_MANIFEST_URL="")


def build_trivial(folder, libraries=()):
    """The trivial server, optionally linked (and so loaded at start) with
    libraries it never calls: what loading them alone costs a process."""
    binary = os.path.join(folder, "trivial_server" + "".join("_" + lib for lib in libraries))
    links = ["-Wl,--no-as-needed"] + ["-l" + lib for lib in libraries] if libraries else []
    subprocess.run(["cc", "-O2", "-o", binary, os.path.join(HERE, "trivial_server.c")] + links, check=True)
    return [binary]


def first_reply(command, env, runs=50):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        p = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, env=env)
        p.stdin.write(PING)
        p.stdin.flush()
        p.stdout.readline()
        times.append(time.perf_counter() - start)
        p.stdin.close()
        p.wait()
    return statistics.median(times)


def burst(command, env, count=10_000, runs=5):
    rates = []
    for _ in range(runs):
        p = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, env=env)
        p.stdin.write(PING)
        p.stdin.flush()
        p.stdout.readline()  # started: the burst measures messages, not the start
        payload = PING * count

        def feed():
            p.stdin.write(payload)
            p.stdin.close()

        start = time.perf_counter()
        writer = threading.Thread(target=feed)
        writer.start()
        lines = 0
        for chunk in iter(lambda: p.stdout.read(1 << 16), b""):
            lines += chunk.count(b"\n")
        elapsed = time.perf_counter() - start
        writer.join()
        p.wait()
        assert lines == count, f"{lines} replies for {count} pings"
        rates.append(count / elapsed)
    return statistics.median(rates)


class ManifestHandler(http.server.BaseHTTPRequestHandler):
    BODY = json.dumps({"instructions": "Consignes du service"}).encode()

    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(self.BODY)))
        self.end_headers()
        self.wfile.write(self.BODY)

    def log_message(self, *args):
        pass


def manifest_server():
    """A manifest on the loopback, started in a thread: (server, its URL)."""
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), ManifestHandler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, f"http://127.0.0.1:{server.server_address[1]}/api/v1/agent_manifest.php"


def make_folder(path, count=10_000):
    exts = [".jpg", ".PNG", ".mp4", ".mov", ".pdf", ".txt", ".webp", ".heic"]
    os.makedirs(path)
    for i in range(count):
        kind = i % 4
        if kind == 0:
            name = f"plan_{i}"
        elif kind == 1:
            name = f"SEQ07_Plan {i} - take{i % 7}"
        elif kind == 2:
            name = f"P{i % 1000}_forum-nuit_{i}"
        else:
            name = f"référence décor {chr(ord('a') + i % 26)}-{i}"
        open(os.path.join(path, name + exts[i % 8]), "wb").close()


def listing(command, env, folder, runs=7):
    call = json.dumps({"jsonrpc": "2.0", "id": 2, "method": "tools/call",
                       "params": {"name": "list_local_files", "arguments": {"directory": folder}}}).encode() + b"\n"
    p = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    p.stdin.write(PING)
    p.stdin.flush()
    p.stdout.readline()
    times, size = [], 0
    for _ in range(runs):
        start = time.perf_counter()
        p.stdin.write(call)
        p.stdin.flush()
        reply = p.stdout.readline()
        times.append(time.perf_counter() - start)
        size = len(reply)
    p.stdin.close()
    p.wait()
    return statistics.median(times), size


def find_printf(folder, runs=7):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(["find", folder, "-maxdepth", "1", "-type", "f", "-printf", "%f\t%p\t%s\t%TY-%Tm-%TdT%TT\n"],
                       stdout=subprocess.DEVNULL, check=True)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    agents = [os.path.abspath(os.path.join(build, "kestro-agent"))] + [os.path.abspath(b) for b in sys.argv[2:]]
    home = tempfile.mkdtemp(prefix="kestro-bench-")
    try:
        env = environment(home)
        trivial = build_trivial(home)
        folder = os.path.join(home, "SEQ07")
        make_folder(folder)

        # The agent must load ICU (and so libstdc++) before its first reply:
        # the same trivial server linked with them is its floor. libcurl
        # (proxies, TLS, HTTP/2) comes with the first exchange with the
        # service, which at a real start is the manifest's fetch.
        floors = [("the same, ICU + libstdc++", build_trivial(home, ("icuuc", "icui18n", "stdc++"))),
                  ("the same, + libcurl", build_trivial(home, ("icuuc", "icui18n", "stdc++", "curl")))]
        base_start = first_reply(trivial, env)
        floor_starts = [(label, first_reply(binary, env)) for label, binary in floors]
        base_rate = burst(trivial, env)
        base_find = find_printf(folder)
        server, manifest_url = manifest_server()
        fetching = dict(env, KESTRO_AGENT_MANIFEST_URL=manifest_url)
        print(f"{'':28} {'start → first reply':>22} {'10 000-ping burst':>24} {'200 of 10 000 files':>26}")
        print(f"{'trivial C server / find':28} {base_start * 1000:18.2f} ms {base_rate:17,.0f} msg/s "
              f"{base_find * 1000:18.1f} ms (find)")
        for label, took in floor_starts:
            print(f"{label:28} {took * 1000:9.2f} ms ({took / base_start:4.1f}×)")
        for agent in agents:
            command = [agent, "--mcp"]
            start = first_reply(command, env)
            rate = burst(command, env)
            took, size = listing(command, env, folder)
            print(f"{os.path.relpath(agent):28} {start * 1000:9.2f} ms ({start / base_start:4.1f}×) "
                  f"{rate:10,.0f} msg/s ({rate / base_rate:4.2f}×) {took * 1000:9.1f} ms ({took / base_find:4.2f}×, "
                  f"{size / 1e3:.0f} kB)")
            with_manifest = first_reply(command, fetching)
            print(f"{'  … fetching a manifest':28} {with_manifest * 1000:9.2f} ms ({with_manifest / base_start:4.1f}×)")
        server.shutdown()
    finally:
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()
