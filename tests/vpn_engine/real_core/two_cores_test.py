#!/usr/bin/env python3
"""Two real cores on loopback prove what the engine's amended configuration does.

Usage: two_cores_test.py INJECTION_OUTPUTS_TOOL

A VLESS server (Debian's v2ray, WebSocket without TLS) relays to two local web servers. The
client core runs the text the engine makes of an application's configuration (inbounds written
port-first, a DNS section, its own routing rule, and the app's metadata naming 127.0.0.2 as the
panel host). A page from 127.0.0.1 fetched through the client's SOCKS port must come out through
the "proxy" outbound, a page from 127.0.0.2 through "direct", and the client's traffic counters,
read through its API, must say so.
"""
import http.server
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
USER_ID = "b831381d-6324-4d53-ad4f-8cda48b30811"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for_port(port, process, seconds=15):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise RuntimeError(f"core exited with {process.returncode}")
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.1)
    raise RuntimeError(f"nothing listens on {port}")


def start_page_server(address, body):
    class Page(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer((address, 0), Page)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def fetch_through_socks(socks_port, url):
    result = subprocess.run(
        ["curl", "--silent", "--show-error", "--max-time", "20", "--socks5",
         f"127.0.0.1:{socks_port}", url], capture_output=True, timeout=30)
    if result.returncode != 0:
        raise RuntimeError(f"curl {url}: {result.stderr.decode(errors='replace')}")
    return result.stdout


def traffic_counters(api_port):
    result = subprocess.run(
        ["v2ctl", "api", f"--server=127.0.0.1:{api_port}", "StatsService.QueryStats",
         'pattern: "" reset: false'], capture_output=True, text=True, timeout=30)
    if result.returncode != 0:
        raise RuntimeError("v2ctl api: " + result.stdout + result.stderr)
    counters = {}
    # One "stat: <" ... ">" block per counter; the closing '>' stands alone on its line.
    for block in re.findall(r"stat:\s*<(.*?)^>", result.stdout, re.S | re.M):
        name = re.search(r'name:\s*"([^"]+)"', block)
        value = re.search(r"value:\s*(\d+)", block)
        if name:
            counters[name.group(1)] = int(value.group(1)) if value else 0
    if not counters:
        print("v2ctl api said:", result.stdout, result.stderr)
    return counters


def server_config(port):
    return {
        "log": {"loglevel": "warning"},
        "inbounds": [{
            "listen": "127.0.0.1", "port": port, "protocol": "vless",
            "settings": {"clients": [{"id": USER_ID}], "decryption": "none"},
            "streamSettings": {"network": "ws", "wsSettings": {"path": "/ray"}},
        }],
        "outbounds": [{"protocol": "freedom"}],
    }


def application_config(socks_port, http_port, server_port):
    # Written the way the app writes it: inbounds port-first, metadata in front.
    return f"""{{
  "zelvoraMeta": {{"panelHost": "127.0.0.2", "bypassSubnets": ["192.168.0.0/16"], "directDomains": ["", "intranet.example.org"], "shareProxyPorts": []}},
  "log": {{"loglevel": "warning"}},
  "inbounds": [
    {{"port": {socks_port}, "listen": "127.0.0.1", "protocol": "socks", "settings": {{"udp": true}}, "tag": "socks-in"}},
    {{"port": {http_port}, "listen": "127.0.0.1", "protocol": "http", "tag": "http-in"}}
  ],
  "outbounds": [
    {{"tag": "proxy", "protocol": "vless", "settings": {{"vnext": [{{"address": "127.0.0.1", "port": {server_port}, "users": [{{"id": "{USER_ID}", "encryption": "none"}}]}}]}},
     "streamSettings": {{"network": "ws", "security": "none", "wsSettings": {{"path": "/ray"}}}}}},
    {{"tag": "direct", "protocol": "freedom"}},
    {{"tag": "block", "protocol": "blackhole"}}
  ],
  "dns": {{"servers": ["1.1.1.1", "8.8.8.8"]}},
  "routing": {{"domainStrategy": "AsIs", "rules": [{{"type": "field", "ip": ["10.255.0.0/16"], "outboundTag": "block"}}]}}
}}"""


def main():
    tool = sys.argv[1]
    for program in ("v2ray", "v2ctl", "curl"):
        if shutil.which(program) is None:
            print(f"SKIP: {program} is not installed (scripts/install-deps.sh installs it)")
            return SKIP
    proxied_body = os.urandom(100 * 1024)
    direct_body = os.urandom(40 * 1024)
    proxied_site = start_page_server("127.0.0.1", proxied_body)
    direct_site = start_page_server("127.0.0.2", direct_body)
    cores = []
    try:
        with tempfile.TemporaryDirectory(prefix="zelvora two cores ü ") as folder:
            server_port = free_port()
            server_path = os.path.join(folder, "server.json")
            with open(server_path, "w", encoding="utf-8") as file:
                json.dump(server_config(server_port), file)
            cores.append(subprocess.Popen(["v2ray", "-config", server_path],
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            wait_for_port(server_port, cores[-1])

            socks_port = free_port()
            app_path = os.path.join(folder, "application config.json")
            client_path = os.path.join(folder, "vpn_config_active.json")
            with open(app_path, "w", encoding="utf-8") as file:
                file.write(application_config(socks_port, free_port(), server_port))
            subprocess.run([tool, "inject", app_path, client_path], check=True)
            with open(client_path, encoding="utf-8") as file:
                client = json.load(file)
            inbounds = {inbound.get("tag"): inbound for inbound in client["inbounds"]}
            assert inbounds["socks-in"]["port"] == socks_port, inbounds
            api_port = inbounds["api"]["port"]

            cores.append(subprocess.Popen(["v2ray", "-config", client_path],
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            wait_for_port(socks_port, cores[-1])
            wait_for_port(api_port, cores[-1])

            proxied_url = f"http://127.0.0.1:{proxied_site.server_address[1]}/page"
            direct_url = f"http://127.0.0.2:{direct_site.server_address[1]}/page"
            assert fetch_through_socks(socks_port, proxied_url) == proxied_body, "proxied page"
            assert fetch_through_socks(socks_port, direct_url) == direct_body, "direct page"

            counters = traffic_counters(api_port)
            proxy_down = counters.get("outbound>>>proxy>>>traffic>>>downlink", 0)
            direct_down = counters.get("outbound>>>direct>>>traffic>>>downlink", 0)
            print(f"proxy downlink {proxy_down} bytes, direct downlink {direct_down} bytes")
            # Each page went out through exactly one outbound: its body plus HTTP headers.
            assert len(proxied_body) <= proxy_down < len(proxied_body) + len(direct_body), counters
            assert len(direct_body) <= direct_down < len(proxied_body), counters
    finally:
        for core in cores:
            core.terminate()
            try:
                core.wait(timeout=10)
            except subprocess.TimeoutExpired:
                core.kill()
                core.wait()
        proxied_site.shutdown()
        direct_site.shutdown()
    print("OK")
    return 0


if __name__ == "__main__":
    sys.exit(main())
