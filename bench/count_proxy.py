#!/usr/bin/env python3
"""A loopback TCP relay that counts what passes through it.

Usage: count_proxy.py TARGET_PORT PORT_FILE COUNT_FILE [--port N] [--cut BYTES]
                      [--hold BYTES --held-file PATH]
Listens on a free 127.0.0.1 port, or N (written to PORT_FILE), relays every
connection to 127.0.0.1:TARGET_PORT, and appends one line per finished
connection to COUNT_FILE: bytes sent by the client, bytes sent by the server.
With --cut, a link that drops: once the server has sent that many bytes on
a connection, both sides are closed (a proxy with a transfer
limit, a VPN that renews, a mobile hotspot), in the middle of an answer if
need be. With --hold, the relay stops passing answers on once the server
has sent that many bytes over all connections, and writes the count to the
held file: the client then holds exactly what got through (to stop it at a
known point).
"""
import argparse
import socket
import threading
import time

held = {"limit": 0, "file": None, "sent": 0, "lock": threading.Lock()}


def hold_point(wanted):
    """How much of `wanted` bytes may still pass before the hold."""
    if not held["limit"]:
        return wanted
    with held["lock"]:
        allowed = max(0, min(wanted, held["limit"] - held["sent"]))
        held["sent"] += allowed
        if held["sent"] >= held["limit"] and held["file"]:
            with open(held["file"], "w") as out:
                out.write(str(held["sent"]))
            held["file"] = None
        return allowed


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
        if index == 1:
            passed = hold_point(len(data))
            if passed < len(data):
                data = data[:passed]
                try:
                    dst.sendall(data)
                except OSError:
                    pass
                counts[index] += len(data)
                while True:  # held: nothing more gets through
                    time.sleep(3600)
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
    parser = argparse.ArgumentParser()
    parser.add_argument("target_port", type=int)
    parser.add_argument("port_file")
    parser.add_argument("count_file")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--cut", type=int, default=0)
    parser.add_argument("--hold", type=int, default=0)
    parser.add_argument("--held-file")
    args = parser.parse_args()
    held["limit"], held["file"] = args.hold, args.held_file
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(16)
    with open(args.port_file, "w") as out:
        out.write(str(listener.getsockname()[1]))
    lock = threading.Lock()
    while True:
        client, _ = listener.accept()
        threading.Thread(target=relay,
                         args=(client, args.target_port, args.count_file, lock, args.cut),
                         daemon=True).start()


if __name__ == "__main__":
    main()
