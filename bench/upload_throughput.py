"""Throughput and memory of upload_file_to_media for a big file.

Starts kestro-devservice (keeping only the size and SHA-256 of what it
receives), sends the same file through `kestro-agent --mcp` and with
`curl -T` to an upload slot of the same service, and reports both rates and
the agent's peak memory against its idle size.

Usage: python3 bench/upload_throughput.py [build-dir] [size-in-MiB]
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

TOKEN = "bench-token"


def rpc(base_url, tool, arguments):
    body = json.dumps({"jsonrpc": "2.0", "id": 1, "method": "tools/call",
                       "params": {"name": tool, "arguments": arguments}}).encode()
    request = urllib.request.Request(base_url + "/mcp", data=body, headers={
        "Content-Type": "application/json", "Authorization": "Bearer " + TOKEN})
    with urllib.request.urlopen(request, timeout=30) as reply:
        return json.load(reply)["result"]["structuredContent"]


def memory_kib(pid, field):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    size_mib = int(sys.argv[2]) if len(sys.argv) > 2 else 1024
    home = tempfile.mkdtemp(prefix="kestro-upload-bench-")
    service = subprocess.Popen([os.path.join(build, "devservice", "kestro-devservice"), "--token", TOKEN,
                                "--discard-uploads"], stdout=subprocess.PIPE, text=True)
    try:
        base_url = service.stdout.readline().strip()
        path = os.path.join(home, "rushes.mp4")
        with open(path, "wb") as f:  # real bytes, not a sparse file: both senders read the same data
            block = os.urandom(1 << 20)
            for _ in range(size_mib):
                f.write(block)
        size = os.path.getsize(path)
        workspace = rpc(base_url, "list_workspaces", {})["workspaces"][0]["id"]

        # curl -T to a slot of its own
        slot = rpc(base_url, "request_upload", {"filename": "rushes.mp4", "workspace_id": workspace, "size": size})
        start = time.perf_counter()
        subprocess.run(["curl", "-sS", "-o", "/dev/null", "-H", "Content-Type: application/octet-stream",
                        "-H", "Expect:", "-T", path, slot["upload_url"]], check=True)
        curl_seconds = time.perf_counter() - start

        # the agent
        config = os.path.join(home, ".config", "Kestro Agent")
        os.makedirs(config)
        with open(os.path.join(config, "config.json"), "w") as f:
            json.dump({"baseUrl": base_url, "token": TOKEN, "userName": "", "userEmail": "", "clientId": "",
                       "configuredPath": ""}, f)
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"), XDG_RUNTIME_DIR=home,
                   KESTRO_AGENT_MANIFEST_URL="")
        agent = subprocess.Popen([os.path.join(build, "kestro-agent"), "--mcp"], stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env, text=True)

        def call(message):
            agent.stdin.write(json.dumps(message) + "\n")
            agent.stdin.flush()
            return json.loads(agent.stdout.readline())

        call({"jsonrpc": "2.0", "id": 1, "method": "tools/call",
              "params": {"name": "list_workspaces", "arguments": {}}})  # the connection is warm, as in real use
        idle_kib = memory_kib(agent.pid, "VmHWM")
        start = time.perf_counter()
        reply = call({"jsonrpc": "2.0", "id": 2, "method": "tools/call",
                      "params": {"name": "upload_file_to_media",
                                 "arguments": {"path": path, "workspace_id": workspace}}})
        agent_seconds = time.perf_counter() - start
        peak_kib = memory_kib(agent.pid, "VmHWM")
        agent.stdin.close()
        agent.wait(timeout=30)
        if reply["result"].get("isError"):
            raise SystemExit("upload failed: " + reply["result"]["content"][0]["text"])

        mib = size / (1 << 20)
        print(f"file: {mib:.0f} MiB")
        print(f"curl -T:            {mib / curl_seconds:8.1f} MiB/s ({curl_seconds:.2f} s)")
        print(f"kestro-agent:       {mib / agent_seconds:8.1f} MiB/s ({agent_seconds:.2f} s), "
              f"{100 * curl_seconds / agent_seconds:.0f}% of curl")
        print(f"agent peak memory:  {peak_kib / 1024:.1f} MiB (idle {idle_kib / 1024:.1f} MiB, "
              f"+{(peak_kib - idle_kib) / 1024:.1f} MiB during the upload)")
    finally:
        service.terminate()
        service.wait(timeout=30)
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()
