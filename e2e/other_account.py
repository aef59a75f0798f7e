#!/usr/bin/env python3
# What another program on the computer does to the bridge's port.
#
#   forge PORT ORIGIN OWNER_PORT  chooses its own source: the bridge's port on 127.0.0.2-.33, the
#                                 owner's open connection's port, IPv4-mapped sources; sends status,
#                                 capture and cancel from each. Prints "SOURCE REQUEST ANSWER" for
#                                 every answer that is no refusal, and "squatted [::1]" if it could
#                                 listen on ::1 at the bridge's port.
#   hold PORT SECONDS             keeps 64 connections open for SECONDS: half idle, half sending a
#                                 refused request and then a byte a second; a closed one is opened
#                                 again at once.
import socket
import sys
import time


def request(kind, port, origin):
    body = {"status": b"", "capture": b'{"mode":"enroll","timeout":5}', "cancel": b"{}"}[kind]
    line = b"GET /v1/status" if kind == "status" else b"POST /v1/" + kind.encode()
    return (line + b" HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nOrigin: %s\r\n"
            b"Content-Type: application/json\r\nContent-Length: %d\r\n\r\n%s"
            % (port, origin.encode(), len(body), body))


def forge(port, origin, owner_port):
    tries = [("127.0.0.%d" % last, port) for last in range(2, 34)]
    tries += [("::ffff:127.0.0.%d" % last, port) for last in range(60, 63)]
    tries += [("127.0.0.%d" % last, owner_port) for last in range(34, 37)]
    tries += [("::ffff:127.0.0.%d" % last, owner_port) for last in range(63, 66)]
    for number, source in enumerate(tries):
        kind = ("status", "capture", "cancel")[number % 3]
        mapped = ":" in source[0]
        s = socket.socket(socket.AF_INET6 if mapped else socket.AF_INET)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.settimeout(10)
        answer = b""
        try:
            s.bind(source)
            s.connect(("::ffff:127.0.0.1" if mapped else "127.0.0.1", port))
            s.sendall(request(kind, port, origin))
            answer = s.recv(64)
        except OSError:
            pass
        s.close()
        if answer:
            print("%s:%d %s %s" % (source[0], source[1], kind, answer.split(b"\r\n")[0].decode()))
    squat = socket.socket(socket.AF_INET6)
    try:
        squat.bind(("::1", port))
        squat.listen()
        print("squatted [::1]")
    except OSError:
        pass


def hold(port, seconds):
    held = [None] * 64
    refused = request("status", port, "http://evil.example").replace(b"127.0.0.1", b"evil.example")
    until, next_byte = time.time() + seconds, 0
    while time.time() < until:
        trickle = time.time() >= next_byte
        next_byte = next_byte + 1 if trickle else next_byte
        for slot in range(len(held)):
            try:
                if held[slot] is None:
                    held[slot] = socket.create_connection(("127.0.0.1", port), timeout=1)
                    held[slot].setblocking(False)
                    if slot % 2:
                        held[slot].sendall(refused)
                elif slot % 2 and trickle:
                    held[slot].send(b"x")
                if held[slot].recv(4096) == b"":
                    raise OSError("closed")
            except BlockingIOError:
                pass
            except OSError:
                if held[slot] is not None:
                    held[slot].close()
                held[slot] = None
        time.sleep(0.05)


if __name__ == "__main__":
    if sys.argv[1] == "forge":
        forge(int(sys.argv[2]), sys.argv[3], int(sys.argv[4]))
    else:
        hold(int(sys.argv[2]), float(sys.argv[3]))
