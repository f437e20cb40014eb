#!/usr/bin/env python3
"""A loopback TCP relay that counts what passes through it.

Usage: count_proxy.py TARGET_PORT PORT_FILE COUNT_FILE
Listens on a free 127.0.0.1 port (written to PORT_FILE), relays every
connection to 127.0.0.1:TARGET_PORT, and appends one line per finished
connection to COUNT_FILE: bytes sent by the client, bytes sent by the server.
"""
import socket
import sys
import threading


def pump(src, dst, counts, index):
    while True:
        data = src.recv(65536)
        if not data:
            break
        dst.sendall(data)
        counts[index] += len(data)
    try:
        dst.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def relay(client, target_port, count_file, lock):
    server = socket.create_connection(("127.0.0.1", target_port))
    counts = [0, 0]
    up = threading.Thread(target=pump, args=(client, server, counts, 0))
    up.start()
    pump(server, client, counts, 1)
    up.join()
    client.close()
    server.close()
    with lock, open(count_file, "a") as out:
        out.write(f"{counts[0]} {counts[1]}\n")


def main():
    target_port, port_file, count_file = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    with open(port_file, "w") as out:
        out.write(str(listener.getsockname()[1]))
    lock = threading.Lock()
    while True:
        client, _ = listener.accept()
        threading.Thread(target=relay, args=(client, target_port, count_file, lock),
                         daemon=True).start()


if __name__ == "__main__":
    main()
