#!/usr/bin/env python3
"""Runs a scripted session through the channel console and prints a transcript a person can
read.

    console_session.py SCRIPT [--log] -- CONSOLE_COMMAND...

SCRIPT holds the console's request lines (JSON, one per line; "#" lines are printed as
headings). Each request is sent once the previous one is answered, so the transcript shows
events where they really happen. With --log the plug-in's own log lines are shown too.
"""
import json
import queue
import subprocess
import sys
import threading

REPLY_TIMEOUT_S = 60


def without_bytes(value):
    """Byte lists (icons) as their size, so a transcript line stays readable."""
    if isinstance(value, dict):
        if set(value) == {"$uint8"}:
            return f"<{len(value['$uint8']) * 3 // 4} bytes>"
        return {key: without_bytes(item) for key, item in value.items()}
    if isinstance(value, list):
        return [without_bytes(item) for item in value]
    return value


def short(value, limit=160):
    text = json.dumps(without_bytes(value), ensure_ascii=False)
    return text if len(text) <= limit else text[: limit - 3] + "..."


def describe_request(request):
    op = request.get("op", "call")
    if op == "call":
        return f"-> {request['method']}({short(request.get('args'))})"
    if op == "wait":
        return f"   (waiting {request['ms'] / 1000:g} s)"
    default_channel = "tidewire" if op == "raw" else "tidewire/status"
    return f"-> {op} {request.get('channel', default_channel)}"


def describe_output(line):
    kind = line.get("type")
    if kind == "reply":
        name = line.get("method") or line.get("op")
        status = line.get("status")
        if status == "success":
            return f"<- {name}: {short(line.get('result'))}"
        if status == "error":
            return f"<- {name}: error {line.get('code')}: {line.get('message')}"
        return f"<- {name}: {status}"
    if kind == "event":
        value = line.get("value")
        if line.get("status") == "success" and isinstance(value, list) and len(value) == 6:
            secs, up_d, down_d, up_t, down_t, state = value
            return (f"   status: {state:<12} {secs:>3} s connected   "
                    f"up +{up_d} = {up_t}   down +{down_d} = {down_t}")
        return f"   event: {short(line)}"
    if kind == "ready":
        return f"   plug-in registered ({'with' if line.get('view') else 'without'} a view)"
    if kind == "bye":
        return "   plug-in destroyed; console closed"
    if kind == "waited":
        return None
    return f"   {short(line)}"


def main():
    args = sys.argv[1:]
    split = args.index("--")
    options, command = args[:split], args[split + 1:]
    script_path, show_log = options[0], "--log" in options

    console = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True, encoding="utf-8",
                               errors="replace", bufsize=1)
    answers = queue.Queue()

    def read_output():
        for raw in console.stdout:
            raw = raw.rstrip("\r\n")
            if not raw.startswith('{"type":'):
                if raw.startswith("[simulated host]"):
                    print(f"   {raw}", flush=True)
                elif show_log and raw:
                    print(f"   | {raw}", flush=True)
                continue
            line = json.loads(raw)
            text = describe_output(line)
            if text:
                print(text, flush=True)
            if line.get("type") in ("reply", "waited", "ready", "fatal", "invalid"):
                answers.put(line)
        answers.put({"type": "eof"})

    reader = threading.Thread(target=read_output, daemon=True)
    reader.start()
    failed = answers.get(timeout=REPLY_TIMEOUT_S).get("type") != "ready"

    with open(script_path, encoding="utf-8") as script:
        for number, text in enumerate(script, 1):
            text = text.strip()
            if not text or failed:
                continue
            if text.startswith("#"):
                print(f"\n== {text.lstrip('# ')}", flush=True)
                continue
            request = json.loads(text)
            request.setdefault("id", number)
            print(describe_request(request), flush=True)
            console.stdin.write(json.dumps(request) + "\n")
            console.stdin.flush()
            if request.get("op") == "quit":
                break
            answer = answers.get(timeout=REPLY_TIMEOUT_S)
            failed = answer.get("type") in ("fatal", "eof")
    console.stdin.close()
    console.wait(timeout=REPLY_TIMEOUT_S)
    reader.join(timeout=5)
    return 1 if failed or console.returncode != 0 else 0


if __name__ == "__main__":
    sys.exit(main())
