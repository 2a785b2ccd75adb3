# smtp_sink.py PORT FILE: takes every message on 127.0.0.1:PORT, one
# connection at a time, appending commands and data to FILE; FILE.ready
# appears once it listens.
import socket
import sys

server = socket.create_server(("127.0.0.1", int(sys.argv[1])))
open(sys.argv[2] + ".ready", "w").close()
while True:
    connection, _ = server.accept()
    with connection, connection.makefile("rb") as lines, open(sys.argv[2], "ab") as out:
        connection.sendall(b"220 sink\r\n")
        for line in lines:
            out.write(line)
            if line[:4].upper() == b"DATA":
                connection.sendall(b"354 go on\r\n")
                out.writelines(iter(lines.readline, b".\r\n"))
            connection.sendall(b"221 bye\r\n" if line[:4].upper() == b"QUIT" else b"250 ok\r\n")
