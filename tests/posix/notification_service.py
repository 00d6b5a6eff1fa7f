#!/usr/bin/env python3
"""A desktop notification service for the tests: it takes the name
org.freedesktop.Notifications on a D-Bus bus, answers what the notification
helpers ask (notify-send, gdbus) as a desktop's notification server does, and
writes every Notify call it gets as one line to a log, so a test reads what
the player would have seen:
    REPLACES-ID -> ID | app=... | icon=... | urgency=N | actions=N | timeout=N
    | summary=... | body=...
(on one line; a backslash in a text is written twice, a line end as \\n).

    notification_service.py BUS-ADDRESS LOG-FILE

Prints "ready" once it owns the name. Speaks the D-Bus wire protocol itself
over the bus's Unix socket (little-endian messages, EXTERNAL authentication),
with the standard library only. Ends when the bus closes the connection."""
import os
import socket
import struct
import sys

CALL, RETURN, ERROR, SIGNAL = 1, 2, 3, 4
NO_REPLY_EXPECTED = 1
FIELDS = {1: "path", 2: "interface", 3: "member", 4: "error_name", 5: "reply_serial",
          6: "destination", 7: "sender", 8: "signature", 9: "unix_fds"}
FIELD_TYPES = {1: "o", 2: "s", 3: "s", 4: "s", 5: "u", 6: "s", 7: "s", 8: "g", 9: "u"}
ALIGN = {"y": 1, "b": 4, "n": 2, "q": 2, "i": 4, "u": 4, "x": 8, "t": 8, "d": 8, "h": 4,
         "s": 4, "o": 4, "g": 1, "a": 4, "(": 8, "{": 8, "v": 1}
FIXED = {"y": "B", "b": "I", "n": "h", "q": "H", "i": "i", "u": "I", "x": "q", "t": "Q",
         "d": "d", "h": "I"}

INTROSPECTION = """<!DOCTYPE node PUBLIC "-//freedesktop//DTD D-BUS Object Introspection 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd">
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg name="app_name" type="s" direction="in"/>
      <arg name="replaces_id" type="u" direction="in"/>
      <arg name="app_icon" type="s" direction="in"/>
      <arg name="summary" type="s" direction="in"/>
      <arg name="body" type="s" direction="in"/>
      <arg name="actions" type="as" direction="in"/>
      <arg name="hints" type="a{sv}" direction="in"/>
      <arg name="expire_timeout" type="i" direction="in"/>
      <arg name="id" type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg name="id" type="u" direction="in"/></method>
    <method name="GetCapabilities"><arg name="caps" type="as" direction="out"/></method>
    <method name="GetServerInformation">
      <arg name="name" type="s" direction="out"/>
      <arg name="vendor" type="s" direction="out"/>
      <arg name="version" type="s" direction="out"/>
      <arg name="spec_version" type="s" direction="out"/>
    </method>
    <signal name="NotificationClosed"><arg name="id" type="u"/><arg name="reason" type="u"/></signal>
    <signal name="ActionInvoked"><arg name="id" type="u"/><arg name="action_key" type="s"/></signal>
  </interface>
  <interface name="org.freedesktop.DBus.Introspectable">
    <method name="Introspect"><arg name="data" type="s" direction="out"/></method>
  </interface>
</node>
"""


def flat(text):
    return text.replace("\\", "\\\\").replace("\n", "\\n")


def split_signature(signature):
    """The complete types of a signature, each as a string."""
    types, i = [], 0
    while i < len(signature):
        end = complete_type_end(signature, i)
        types.append(signature[i:end])
        i = end
    return types


def complete_type_end(signature, i):
    c = signature[i]
    if c == "a":
        return complete_type_end(signature, i + 1)
    if c in "({":
        close = ")" if c == "(" else "}"
        i += 1
        while signature[i] != close:
            i = complete_type_end(signature, i)
        return i + 1
    return i + 1


class Reader:
    def __init__(self, data, offset=0):
        self.data, self.pos = data, offset

    def align(self, n):
        self.pos += (-self.pos) % n

    def read(self, t):
        self.align(ALIGN[t[0]])
        c = t[0]
        if c in FIXED:
            fmt = "<" + FIXED[c]
            (value,) = struct.unpack_from(fmt, self.data, self.pos)
            self.pos += struct.calcsize(fmt)
            return bool(value) if c == "b" else value
        if c in "so":
            (length,) = struct.unpack_from("<I", self.data, self.pos)
            value = self.data[self.pos + 4:self.pos + 4 + length].decode("utf-8")
            self.pos += 4 + length + 1
            return value
        if c == "g":
            length = self.data[self.pos]
            value = self.data[self.pos + 1:self.pos + 1 + length].decode("ascii")
            self.pos += 1 + length + 1
            return value
        if c == "v":
            return self.read(self.read("g"))
        if c == "a":
            (length,) = struct.unpack_from("<I", self.data, self.pos)
            self.pos += 4
            element = t[1:]
            self.align(ALIGN[element[0]])
            end = self.pos + length
            items = []
            while self.pos < end:
                items.append(self.read(element))
            if element[0] == "{":
                return dict(items)
            return items
        if c in "({":
            return tuple(self.read(part) for part in split_signature(t[1:-1]))
        raise ValueError("type %r" % t)


class Writer:
    def __init__(self):
        self.data = bytearray()

    def align(self, n):
        self.data += b"\0" * ((-len(self.data)) % n)

    def write(self, t, value):
        self.align(ALIGN[t[0]])
        c = t[0]
        if c in FIXED:
            self.data += struct.pack("<" + FIXED[c], value)
        elif c in "so":
            raw = value.encode("utf-8")
            self.data += struct.pack("<I", len(raw)) + raw + b"\0"
        elif c == "g":
            raw = value.encode("ascii")
            self.data += bytes([len(raw)]) + raw + b"\0"
        elif c == "v":
            signature, inner = value
            self.write("g", signature)
            self.write(signature, inner)
        elif c == "a":
            at = len(self.data)
            self.data += b"\0\0\0\0"
            element = t[1:]
            self.align(ALIGN[element[0]])
            start = len(self.data)
            for item in (value.items() if element[0] == "{" else value):
                self.write(element, item)
            struct.pack_into("<I", self.data, at, len(self.data) - start)
        elif c in "({":
            for part, item in zip(split_signature(t[1:-1]), value):
                self.write(part, item)
        else:
            raise ValueError("type %r" % t)


class Connection:
    def __init__(self, address):
        path = None
        for part in address.split(";")[0].split(":", 1)[1].split(","):
            key, _, value = part.partition("=")
            if key == "path":
                path = value
        if path is None:
            raise SystemExit("only unix:path= addresses: %s" % address)
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.buffer = b""
        self.serial = 0
        self.sock.sendall(b"\0AUTH EXTERNAL " + str(os.getuid()).encode().hex().encode() + b"\r\n")
        line = self.read_line()
        if not line.startswith(b"OK "):
            raise SystemExit("authentication refused: %r" % line)
        self.sock.sendall(b"BEGIN\r\n")

    def read_line(self):
        while b"\r\n" not in self.buffer:
            self.fill()
        line, _, self.buffer = self.buffer.partition(b"\r\n")
        return line

    def fill(self):
        chunk = self.sock.recv(65536)
        if not chunk:
            raise EOFError
        self.buffer += chunk

    def receive(self):
        while len(self.buffer) < 16:
            self.fill()
        if self.buffer[0:1] != b"l":
            raise SystemExit("big-endian messages are not spoken here")
        body_length, _serial, fields_length = struct.unpack_from("<III", self.buffer, 4)
        header_end = 16 + fields_length + (-(16 + fields_length)) % 8
        while len(self.buffer) < header_end + body_length:
            self.fill()
        data, self.buffer = self.buffer[:header_end + body_length], self.buffer[header_end + body_length:]
        reader = Reader(data, 12)
        message = {"type": data[1], "flags": data[2], "serial": _serial}
        for code, value in reader.read("a(yv)"):
            message[FIELDS.get(code, code)] = value
        reader.pos = header_end
        message["body"] = [reader.read(t) for t in split_signature(message.get("signature", ""))]
        return message

    def send(self, kind, fields, signature="", body=(), flags=0):
        self.serial += 1
        payload = Writer()
        for t, value in zip(split_signature(signature), body):
            payload.write(t, value)
        if signature:
            fields = dict(fields, signature=signature)
        codes = {name: code for code, name in FIELDS.items()}
        header = Writer()
        header.data += b"l" + bytes([kind, flags, 1])
        header.data += struct.pack("<II", len(payload.data), self.serial)
        header.write("a(yv)", [(codes[name], (FIELD_TYPES[codes[name]], value))
                               for name, value in fields.items()])
        header.align(8)
        self.sock.sendall(bytes(header.data + payload.data))
        return self.serial

    def call_bus(self, member, signature="", body=()):
        serial = self.send(CALL, {"path": "/org/freedesktop/DBus",
                                  "interface": "org.freedesktop.DBus", "member": member,
                                  "destination": "org.freedesktop.DBus"}, signature, body)
        while True:
            message = self.receive()
            if message.get("reply_serial") == serial:
                if message["type"] == ERROR:
                    raise SystemExit("%s: %s" % (member, message.get("error_name")))
                return message["body"]


def main():
    address, log_path = sys.argv[1], sys.argv[2]
    bus = Connection(address)
    bus.call_bus("Hello")
    (result,) = bus.call_bus("RequestName", "su", ("org.freedesktop.Notifications", 4))
    if result != 1:  # the primary owner
        raise SystemExit("the name is taken (%d)" % result)
    print("ready", flush=True)
    next_id = 0
    with open(log_path, "a", encoding="utf-8") as log:
        while True:
            try:
                message = bus.receive()
            except EOFError:
                return
            if message["type"] != CALL:
                continue
            member, interface = message.get("member"), message.get("interface")
            reply = None
            if member == "Notify":
                (app, replaces, icon, summary, body, actions, hints, timeout) = message["body"]
                if replaces:
                    notification_id = replaces
                else:
                    next_id += 1
                    notification_id = next_id
                log.write("%d -> %d | app=%s | icon=%s | urgency=%s | actions=%d | timeout=%d"
                          " | summary=%s | body=%s\n"
                          % (replaces, notification_id, flat(app), flat(icon),
                             hints.get("urgency", "none"), len(actions), timeout, flat(summary),
                             flat(body)))
                log.flush()
                reply = ("u", (notification_id,))
            elif member == "GetCapabilities":
                reply = ("as", (["body", "body-markup"],))
            elif member == "GetServerInformation":
                reply = ("ssss", ("test-notifications", "quorvane tests", "1.0", "1.2"))
            elif member == "CloseNotification":
                reply = ("", ())
            elif member == "Introspect" and interface in (None, "org.freedesktop.DBus.Introspectable"):
                reply = ("s", (INTROSPECTION,))
            if message["flags"] & NO_REPLY_EXPECTED:
                continue
            fields = {"reply_serial": message["serial"], "destination": message["sender"]}
            if reply is None:
                bus.send(ERROR, dict(fields, error_name="org.freedesktop.DBus.Error.UnknownMethod"),
                         "s", ("no method %s" % member,))
            else:
                bus.send(RETURN, fields, *reply)


if __name__ == "__main__":
    main()
