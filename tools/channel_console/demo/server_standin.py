#!/usr/bin/env python3
"""The VPN server the demo's proxy-only configuration names, played on loopback.

The core stand-in sends each connection through its configured outbound server: it writes
"<host>:<port>\\n", expects b"1" (connected) or b"0", then relays bytes both ways. This script
listens on ADDRESS:PORT (default: 127.0.0.1 and a port the system picks), prints the port on its
first line and serves until killed.

    server_standin.py [ADDRESS PORT]
"""
import socket
import sys
import threading


def pipe(source, sink):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            sink.sendall(data)
    except OSError:
        pass
    finally:
        for sock in (source, sink):
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def serve(client):
    with client:
        line = b""
        while len(line) < 300 and not line.endswith(b"\n"):
            byte = client.recv(1)
            if not byte:
                return
            line += byte
        host, _, port = line.strip().decode("ascii", "replace").rpartition(":")
        try:
            target = socket.create_connection((host, int(port)), timeout=5)
            target.settimeout(None)
        except (OSError, ValueError):
            client.sendall(b"0")
            return
        with target:
            client.sendall(b"1")
            back = threading.Thread(target=pipe, args=(target, client), daemon=True)
            back.start()
            pipe(client, target)
            back.join()


def main():
    address, port = (sys.argv[1], int(sys.argv[2])) if len(sys.argv) == 3 else ("127.0.0.1", 0)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, port))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client,), daemon=True).start()


if __name__ == "__main__":
    sys.exit(main())
