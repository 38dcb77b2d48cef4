#!/usr/bin/env python3
"""Offline check of the Codex file editing with a real TOML parser.

    check_codex_toml.py DUMP_TOOL CORPUS...

DUMP_TOOL is the built codex_toml_dump; each CORPUS is a folder (or file) of
inputs of the codex_toml fuzz target. For every input whose text tomllib
accepts, the edited text must be accepted too, hold the agent's entry with
this executable and "--mcp", and hold every other value unchanged: the user's
settings, other servers and an older "kestro" entry that does not name this
application. Exits 1 and names the inputs that break this.
"""
import copy
import os
import subprocess
import sys
import tempfile
import tomllib

SERVER = "kestro-agent"


def without_agent(doc, drop_old):
    doc = copy.deepcopy(doc)
    servers = doc.get("mcp_servers")
    if isinstance(servers, dict):
        # The entry is compared on its own: its table is rewritten, and what
        # stays of it (the user's approvals in sub-tables) is the editor's tests' business.
        servers.pop(SERVER, None)
        if drop_old:
            servers.pop("kestro", None)
        if not servers:
            doc.pop("mcp_servers")
    return doc


def old_entry_removed(before, after):
    """An older "kestro" entry the writer took away: only one naming this
    application may go."""
    def servers(doc):
        value = doc.get("mcp_servers")
        return value if isinstance(value, dict) else {}
    old = servers(before).get("kestro")
    return old is not None and "kestro" not in servers(after) and "Kestro Agent" in repr(old)


def check(before_text, after_text, exe):
    """None when the edit is sound, else why it is not."""
    try:
        before = tomllib.loads(before_text)
    except tomllib.TOMLDecodeError:
        return None  # the line editor's business; no parser promise to keep
    if after_text is None:
        return None  # refused with a message, the file left as it was
    try:
        after = tomllib.loads(after_text)
    except tomllib.TOMLDecodeError as e:
        return f"the edited text is no longer TOML: {e}"
    entry = after.get("mcp_servers", {}).get(SERVER)
    if not isinstance(entry, dict) or entry.get("command") != exe or entry.get("args") != ["--mcp"]:
        return f"the agent's entry is not what was written: {entry!r}"
    drop_old = old_entry_removed(before, after)
    if without_agent(before, drop_old) != without_agent(after, drop_old):
        return "a value of the user's changed"
    return None


def read_text(path):
    # Bytes as they stand: text mode would turn CR LF into LF.
    with open(path, "rb") as f:
        return f.read().decode("utf-8")


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    tool, corpora = sys.argv[1], sys.argv[2:]
    failures, accepted, total = [], 0, 0
    with tempfile.TemporaryDirectory(prefix="kestro-toml-check-") as out:
        subprocess.run([tool, out, *corpora], check=True, stdout=subprocess.DEVNULL)
        for name in sorted(os.listdir(out)):
            if not name.endswith(".before"):
                continue
            stem = name[: -len(".before")]
            total += 1
            try:
                before = read_text(os.path.join(out, name))
            except UnicodeDecodeError:
                continue  # the writer never touches a file that is not UTF-8 text
            exe = read_text(os.path.join(out, stem + ".exe"))
            after_path = os.path.join(out, stem + ".after")
            after = read_text(after_path) if os.path.exists(after_path) else None
            try:
                tomllib.loads(before)
                accepted += 1
            except tomllib.TOMLDecodeError:
                pass
            why = check(before, after, exe)
            if why:
                failures.append((stem, why))
    print(f"check_codex_toml: {total} inputs, {accepted} accepted by tomllib, {len(failures)} broken")
    for stem, why in failures[:20]:
        print(f"  {stem}: {why}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
