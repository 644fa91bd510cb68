#!/usr/bin/python3
"""A second, independent RFC 2217 server for KORVANT's tests: pyserial's PortManager in
front of a loop:// port, whose output comes back as its input. It listens on 127.0.0.1 only,
prints its port on a line of its own, serves one connection at a time, and takes commands on
its standard input, one a line:
    cts 0|1, dsr 0|1   set the modem line (loop:// shows RTS as CTS and DTR as DSR) and
                       tell the client, as a server does when the line changes
    quit               end
"""
import socket
import sys
import threading

import serial
import serial.rfc2217


class Session:
    def __init__(self, port, connection):
        self.port = port
        self.connection = connection
        self.lock = threading.Lock()
        self.alive = True
        self.manager = serial.rfc2217.PortManager(port, self)

    def write(self, data):  # PortManager's answers, and the port's data
        with self.lock:
            self.connection.sendall(data)

    def from_client(self):
        try:
            while True:
                data = self.connection.recv(1024)
                if not data:
                    break
                self.port.write(b"".join(self.manager.filter(data)))
        except OSError:
            pass
        self.alive = False

    def to_client(self):
        try:
            while self.alive:
                data = self.port.read(self.port.in_waiting or 1)
                if data:
                    self.write(b"".join(self.manager.escape(data)))
        except OSError:
            self.alive = False


def main():
    port = serial.serial_for_url("loop://", timeout=0.05)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    print(listener.getsockname()[1], flush=True)
    sessions = []

    def serve():
        while True:
            connection, _ = listener.accept()
            try:
                session = Session(port, connection)
            except OSError:  # the client left at once
                continue
            sessions.append(session)
            threading.Thread(target=session.to_client, daemon=True).start()
            threading.Thread(target=session.from_client, daemon=True).start()

    threading.Thread(target=serve, daemon=True).start()
    for line in sys.stdin:
        words = line.split()
        if not words or words[0] == "quit":
            break
        if words[0] in ("cts", "dsr"):
            setattr(port, "rts" if words[0] == "cts" else "dtr", words[1] == "1")
            for session in sessions:
                if session.alive:
                    try:
                        session.manager.check_modem_lines()
                    except OSError:
                        session.alive = False
        print("ok", flush=True)


if __name__ == "__main__":
    main()
