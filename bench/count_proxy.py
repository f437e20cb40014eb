#!/usr/bin/env python3
"""A loopback TCP relay that counts what passes through it.

Usage: count_proxy.py TARGET_PORT PORT_FILE COUNT_FILE [CUT_BYTES]
Listens on a free 127.0.0.1 port (written to PORT_FILE), relays every
connection to 127.0.0.1:TARGET_PORT, and appends one line per finished
connection to COUNT_FILE: bytes sent by the client, bytes sent by the server.
With CUT_BYTES, a link that drops: once the server has sent that many bytes
on a connection, both sides are closed (a proxy with a transfer limit, a VPN
that renews, a mobile hotspot), in the middle of an answer if need be.
"""
import socket
import sys
import threading


def pump(src, dst, counts, index, limit=0):
    while True:
        try:
            data = src.recv(65536)
        except OSError:
            break
        if not data:
            break
        if limit:
            data = data[:limit - counts[index]]
        try:
            dst.sendall(data)
        except OSError:
            break
        counts[index] += len(data)
        if limit and counts[index] >= limit:
            return True  # the link drops here
    try:
        dst.shutdown(socket.SHUT_WR)
    except OSError:
        pass
    return False


def relay(client, target_port, count_file, lock, cut_bytes):
    server = socket.create_connection(("127.0.0.1", target_port))
    counts = [0, 0]
    up = threading.Thread(target=pump, args=(client, server, counts, 0))
    up.start()
    if pump(server, client, counts, 1, cut_bytes):
        for s in (client, server):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
    up.join()
    client.close()
    server.close()
    with lock, open(count_file, "a") as out:
        out.write(f"{counts[0]} {counts[1]}\n")


def main():
    target_port, port_file, count_file = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    cut_bytes = int(sys.argv[4]) if len(sys.argv) > 4 else 0
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    with open(port_file, "w") as out:
        out.write(str(listener.getsockname()[1]))
    lock = threading.Lock()
    while True:
        client, _ = listener.accept()
        threading.Thread(target=relay, args=(client, target_port, count_file, lock, cut_bytes),
                         daemon=True).start()


if __name__ == "__main__":
    main()
