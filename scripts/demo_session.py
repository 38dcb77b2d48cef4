"""An assistant's session with kestro-agent --mcp, printed step by step."""
import json
import os
import shutil
import subprocess
import sys
import tempfile


def show(title, message):
    print(f"\n── {title}")
    print(json.dumps(message, ensure_ascii=False, indent=2))


class Agent:
    def __init__(self, binary, env):
        self.proc = subprocess.Popen([binary, "--mcp"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, env=env, text=True, encoding="utf-8")
        self.next_id = 1

    def request(self, method, params=None, title=None):
        message = {"jsonrpc": "2.0", "id": self.next_id, "method": method}
        if params is not None:
            message["params"] = params
        self.next_id += 1
        show(f"→ {title or method}", message)
        self.proc.stdin.write(json.dumps(message, ensure_ascii=False) + "\n")
        self.proc.stdin.flush()
        reply = json.loads(self.proc.stdout.readline())
        show(f"← reply {reply.get('id')}", reply)
        return reply

    def notify(self, method):
        message = {"jsonrpc": "2.0", "method": method}
        show(f"→ {method} (notification, no reply expected)", message)
        self.proc.stdin.write(json.dumps(message) + "\n")
        self.proc.stdin.flush()

    def close(self):
        self.proc.stdin.close()
        status = self.proc.wait(timeout=20)
        stderr = self.proc.stderr.read()
        print(f"\n── stderr of the agent:\n{stderr.rstrip()}")
        print(f"── exit status: {status}")
        return status


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    binary = os.path.abspath(os.path.join(build, "kestro-agent"))
    home = tempfile.mkdtemp(prefix="kestro-demo-")
    try:
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                   XDG_RUNTIME_DIR=home)
        print(f"kestro-agent --version: {subprocess.check_output([binary, '--version'], text=True).strip()}")
        agent = Agent(binary, env)
        agent.request("initialize", {"protocolVersion": "2025-06-18", "capabilities": {},
                                     "clientInfo": {"name": "demo", "version": "1"}})
        agent.notify("notifications/initialized")
        agent.request("ping")
        agent.request("tools/list")
        agent.request("resources/list")
        agent.request("no/such/method", title="an unknown method")
        status = agent.close()
        sys.exit(status)
    finally:
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()
