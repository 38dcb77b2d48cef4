"""An assistant's working session with kestro-agent --mcp against the local
stand-in of the Kestro service, printed step by step.

It starts kestro-devservice on a free loopback port, writes a configuration
holding an agent token (in a temporary HOME), makes a sample folder of
storyboard images and videos, then drives the agent the way an assistant does:
initialize, tools/list, list_local_files, fill_sequence_from_folder (creating
the missing plans) and upload_folder_to_assets. It ends by showing what the
service now holds.
"""
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import zlib

TOKEN = "demo-agent-token"


def show(title, message, limit=60):
    print(f"\n── {title}")
    text = json.dumps(message, ensure_ascii=False, indent=2)
    lines = text.splitlines()
    if len(lines) > limit:
        lines = lines[:limit] + [f"  … ({len(lines) - limit} more lines)"]
    print("\n".join(lines))


def png(width, height, rgb):
    """A small valid PNG image of one colour."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    row = b"\x00" + bytes(rgb) * width
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(row * height)) + chunk(b"IEND", b""))


def make_samples(root):
    storyboard = os.path.join(root, "Storyboard SEQ01")
    characters = os.path.join(root, "Personnages")
    os.makedirs(storyboard)
    os.makedirs(characters)
    files = {
        os.path.join(storyboard, "plan_01_foret.png"): png(64, 36, (30, 90, 40)),
        os.path.join(storyboard, "plan_02_cabane.png"): png(64, 36, (120, 80, 40)),
        os.path.join(storyboard, "plan_04_entree.mp4"): os.urandom(256 * 1024),
        os.path.join(storyboard, "P6-nuit.png"): png(64, 36, (10, 10, 60)),
        os.path.join(storyboard, "notes.txt"): b"pas une image",
        os.path.join(storyboard, ".DS_Store"): b"hidden",
        os.path.join(characters, "lina_face.png"): png(32, 32, (200, 150, 120)),
        os.path.join(characters, "lina-profil.png"): png(32, 32, (190, 140, 110)),
        os.path.join(characters, "le_garde.jpg"): png(32, 32, (80, 80, 80)),
    }
    for path, data in files.items():
        with open(path, "wb") as f:
            f.write(data)
    return storyboard, characters


class Agent:
    def __init__(self, binary, env):
        self.proc = subprocess.Popen([binary, "--mcp"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, env=env, text=True, encoding="utf-8")
        self.next_id = 1

    def request(self, method, params=None, title=None, limit=60):
        message = {"jsonrpc": "2.0", "id": self.next_id, "method": method}
        if params is not None:
            message["params"] = params
        self.next_id += 1
        show(f"→ {title or method}", message)
        self.proc.stdin.write(json.dumps(message, ensure_ascii=False) + "\n")
        self.proc.stdin.flush()
        line = self.proc.stdout.readline()
        if not line:
            raise SystemExit("the agent closed its output")
        reply = json.loads(line)
        show(f"← reply {reply.get('id')}", reply, limit)
        return reply

    def call(self, tool, arguments, limit=60):
        reply = self.request("tools/call", {"name": tool, "arguments": arguments}, title=f"tools/call {tool}",
                             limit=limit)
        result = reply.get("result", {})
        if result.get("isError"):
            raise SystemExit(f"{tool} failed: {result['content'][0]['text']}")
        return result.get("structuredContent", {})

    def notify(self, method):
        message = {"jsonrpc": "2.0", "method": method}
        show(f"→ {method} (notification, no reply expected)", message)
        self.proc.stdin.write(json.dumps(message) + "\n")
        self.proc.stdin.flush()

    def close(self):
        self.proc.stdin.close()
        status = self.proc.wait(timeout=30)
        print(f"\n── stderr of the agent:\n{self.proc.stderr.read().rstrip()}")
        print(f"── agent exit status: {status}")
        return status


def start_service(binary):
    service = subprocess.Popen([binary, "--port", "0", "--token", TOKEN], stdout=subprocess.PIPE, text=True)
    base_url = service.stdout.readline().strip()
    if not base_url.startswith("http://127.0.0.1:"):
        service.kill()
        raise SystemExit("kestro-devservice did not start")
    return service, base_url


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    agent_bin = os.path.join(build, "kestro-agent")
    home = tempfile.mkdtemp(prefix="kestro-demo-")
    service = None
    try:
        service, base_url = start_service(os.path.join(build, "devservice", "kestro-devservice"))
        print(f"stand-in Kestro service listening at {base_url}")
        config_dir = os.path.join(home, ".config", "Kestro Agent")
        os.makedirs(config_dir, mode=0o700)
        with open(os.path.join(config_dir, "config.json"), "w") as f:
            json.dump({"baseUrl": base_url, "token": TOKEN, "userName": "Démo", "userEmail": "demo@example.org",
                       "clientId": "demo", "configuredPath": agent_bin}, f)
        storyboard, characters = make_samples(os.path.join(home, "Bureau"))
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"), XDG_RUNTIME_DIR=home,
                   KESTRO_AGENT_RUN_USER_DIR=os.path.join(home, "run-user"), KESTRO_AGENT_MANIFEST_URL="")

        print(f"kestro-agent --version: {subprocess.check_output([agent_bin, '--version'], text=True).strip()}")
        agent = Agent(agent_bin, env)
        agent.request("initialize", {"protocolVersion": "2025-06-18", "capabilities": {},
                                     "clientInfo": {"name": "demo", "version": "1"}})
        agent.notify("notifications/initialized")
        tools = agent.request("tools/list", limit=25)["result"]["tools"]
        print("\ntools offered: " + ", ".join(t["name"] for t in tools))

        workspaces = agent.call("list_workspaces", {})["workspaces"]
        workspace_id = workspaces[0]["id"]
        sequences = agent.call("list_sequences", {"workspace_id": workspace_id})["sequences"]
        sequence_id = sequences[0]["id"]
        agent.call("list_plans", {"workspace_id": workspace_id, "sequence_id": sequence_id})
        agent.call("list_local_files", {"directory": storyboard})
        agent.call("fill_sequence_from_folder", {"directory": storyboard, "sequence_id": sequence_id,
                                                 "create_missing_plans": True, "prompt_prefix": "Storyboard :"})
        agent.call("upload_folder_to_assets", {"directory": "~/Bureau/Personnages", "workspace_id": workspace_id,
                                               "kind": "personnage", "folder_name": "Personnages"})
        status = agent.close()

        service.send_signal(signal.SIGTERM)
        state, _ = service.communicate(timeout=20)
        service = None
        print("\n── what the service now holds:\n" + state.rstrip())
        sys.exit(status)
    finally:
        if service is not None:
            service.kill()
            service.wait()
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()
