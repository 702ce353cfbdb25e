#!/usr/bin/env python3
"""The demo's VPN server stand-in for the core stand-in: for each connection it reads
"<host>:<port>\\n", connects there, answers "1" (or "0" when it cannot) and relays bytes.

    outbound_server.py ADDRESS PORT
"""
import socket
import sys
import threading


def pump(source, target):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            target.sendall(data)
    except OSError:
        pass
    finally:
        for s in (source, target):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def serve(client):
    line = b""
    while not line.endswith(b"\n") and len(line) < 300:
        chunk = client.recv(1)
        if not chunk:
            client.close()
            return
        line += chunk
    host, _, port = line.decode("ascii", "replace").strip().rpartition(":")
    try:
        upstream = socket.create_connection((host, int(port)), timeout=5)
        upstream.settimeout(None)
    except (OSError, ValueError):
        client.sendall(b"0")
        client.close()
        return
    client.sendall(b"1")
    threading.Thread(target=pump, args=(upstream, client), daemon=True).start()
    pump(client, upstream)


def main():
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((sys.argv[1], int(sys.argv[2])))
    listener.listen(16)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client,), daemon=True).start()


if __name__ == "__main__":
    main()
