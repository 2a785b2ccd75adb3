# smtp_sink.py PORT FILE: accepts every message on 127.0.0.1:PORT, one
# connection at a time, and appends the commands and the data to FILE.
# FILE.ready appears once it listens.
import socket
import sys

port, path = int(sys.argv[1]), sys.argv[2]
server = socket.create_server(("127.0.0.1", port))
open(path + ".ready", "w").close()
while True:
    connection, _ = server.accept()
    with connection, connection.makefile("rb") as lines, open(path, "ab") as out:
        def reply(text):
            connection.sendall(text.encode() + b"\r\n")
        reply("220 sink")
        for line in lines:
            out.write(line)
            verb = line[:4].upper()
            if verb == b"DATA":
                reply("354 go on")
                for data in iter(lines.readline, b".\r\n"):
                    out.write(data)
            if verb == b"QUIT":
                reply("221 bye")
                break
            reply("250 ok")
