#!/usr/bin/python3
"""Loopback servers for the download tests: HTTP, HTTPS (self-signed) and a small FTP server.

Usage: netserver.py ROOT CERT KEY PORTFILE LOG
Serves files of ROOT on 127.0.0.1 only, writes "http https ftp" ports to PORTFILE once listening,
appends one line per FTP login and retrieval to LOG, and exits by itself after five minutes.

HTTP paths: /files/NAME (with its length), /nolen/NAME (no length, the connection closing the body),
/slow/NAME (with its length, sent in small pieces with pauses), /drip/NAME (NAME and 2 MB of zeros,
sent slowly: a client that stops early never gets it all); anything else is a 404 page.
"""
import http.server
import os
import socket
import socketserver
import ssl
import sys
import threading
import time

ROOT, CERT, KEY, PORTFILE, LOG = sys.argv[1:6]
log_lock = threading.Lock()


def log(line):
    with log_lock, open(LOG, "a") as f:
        f.write(line + "\n")


def read_file(name):
    path = os.path.join(ROOT, os.path.basename(name))
    with open(path, "rb") as f:
        return f.read()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        parts = self.path.split("/")
        kind, name = (parts[1], parts[2]) if len(parts) == 3 else ("", "")
        try:
            data = read_file(name) if kind in ("files", "nolen", "slow", "drip") else None
        except OSError:
            data = None
        if data is None:
            page = b"<html><body>not here</body></html>"
            self.send_response(404)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(page)))
            self.end_headers()
            self.wfile.write(page)
            return
        if kind == "drip":
            data += bytes(2 * 1024 * 1024)
        self.send_response(200)
        self.send_header("Content-Type", "image/" + name.rsplit(".", 1)[-1])
        if kind == "nolen":
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        try:
            if kind == "slow":
                for i in range(0, len(data), 700):
                    self.wfile.write(data[i:i + 700])
                    self.wfile.flush()
                    time.sleep(0.01)
            elif kind == "drip":
                for i in range(0, len(data), 4096):
                    self.wfile.write(data[i:i + 4096])
                    self.wfile.flush()
                    time.sleep(0.02)
            else:
                self.wfile.write(data)
        except OSError:
            pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def ftp_session(conn):
    f = conn.makefile("rwb", buffering=0)

    def reply(text):
        f.write((text + "\r\n").encode())

    reply("220 ready")
    active = None
    passive = None
    while True:
        line = f.readline()
        if not line:
            return
        cmd, _, arg = line.decode(errors="replace").strip().partition(" ")
        cmd = cmd.upper()
        if cmd == "USER":
            log("USER " + arg)
            reply("331 password please")
        elif cmd == "PASS":
            log("PASS " + arg)
            reply("230 logged in")
        elif cmd == "SYST":
            reply("215 UNIX Type: L8")
        elif cmd == "PWD":
            reply('257 "/"')
        elif cmd in ("TYPE", "MODE", "STRU"):
            reply("200 ok")
        elif cmd == "CWD":
            reply("250 ok")
        elif cmd == "PORT":
            n = [int(x) for x in arg.split(",")]
            active = (".".join(map(str, n[:4])), n[4] * 256 + n[5])
            passive = None
            reply("200 port ok")
        elif cmd == "PASV":
            passive = socket.socket()
            passive.bind(("127.0.0.1", 0))
            passive.listen(1)
            port = passive.getsockname()[1]
            active = None
            reply("227 Entering Passive Mode (127,0,0,1,%d,%d)" % (port // 256, port % 256))
        elif cmd == "SIZE":
            try:
                reply("213 %d" % len(read_file_path(arg)))
            except OSError:
                reply("550 no such file")
        elif cmd == "RETR":
            log("RETR " + arg)
            try:
                data = read_file_path(arg)
            except OSError:
                reply("550 no such file")
                continue
            reply("150 opening data connection")
            if passive:
                d, _ = passive.accept()
                passive.close()
                passive = None
            else:
                d = socket.create_connection(active)
            d.sendall(data)
            d.close()
            reply("226 transfer complete")
        elif cmd == "QUIT":
            reply("221 bye")
            return
        else:
            reply("502 not implemented")


def read_file_path(arg):
    # "dir/a.gif" lives in ROOT as "dir_a.gif": the log shows the path the client asked for
    return read_file(arg.lstrip("/").replace("/", "_"))


def ftp_serve(sock):
    while True:
        conn, _ = sock.accept()
        threading.Thread(target=lambda c=conn: (ftp_session(c), c.close()), daemon=True).start()


def main():
    http_srv = Server(("127.0.0.1", 0), Handler)
    https_srv = Server(("127.0.0.1", 0), Handler)
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(CERT, KEY)
    https_srv.socket = ctx.wrap_socket(https_srv.socket, server_side=True)
    ftp_sock = socket.socket()
    ftp_sock.bind(("127.0.0.1", 0))
    ftp_sock.listen(5)
    for srv in (http_srv, https_srv):
        threading.Thread(target=srv.serve_forever, daemon=True).start()
    threading.Thread(target=ftp_serve, args=(ftp_sock,), daemon=True).start()
    ports = "%d %d %d" % (http_srv.server_address[1], https_srv.server_address[1], ftp_sock.getsockname()[1])
    with open(PORTFILE + ".tmp", "w") as f:
        f.write(ports)
    os.rename(PORTFILE + ".tmp", PORTFILE)
    time.sleep(300)


main()
