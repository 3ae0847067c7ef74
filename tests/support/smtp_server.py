"""A real SMTP server for the tests (aiosmtpd), on 127.0.0.1.

Usage: smtp_server.py OUTDIR [--auth USER:PASSWORD] [--auth-optional]
                             [--mechanisms LOGIN,PLAIN,CRAM-MD5]
                             [--refuse-rcpt TEXT] [--tls CERT KEY]
                             [--mute] [--stall-after-data] [--port N]
Prints "PORT <n>" once listening; stops when its standard input closes.
Each message received is written to OUTDIR/mail-<n>.json with the envelope
and the raw message text; each AUTH attempt adds its mechanism as a line of
OUTDIR/auth.log. --auth-optional accepts mail without a login;
--mechanisms offers only these AUTH mechanisms; --refuse-rcpt refuses every
recipient that contains TEXT; --port listens on that port instead of a free one.

Two misbehaving servers without aiosmtpd: --mute accepts connections but
never answers; --stall-after-data answers like a server until the end of
DATA and then never again, writing DATA-END, QUIT and CLOSED lines to
OUTDIR/events.log as the client gets there.
"""
import asyncio, json, os, socket, sys, threading
from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def append_line(outdir, name, line):
    with open(os.path.join(outdir, name), "a") as f:
        f.write(line + "\n")


def listen():
    sock = socket.socket()
    sock.bind(("127.0.0.1", 0))
    sock.listen(5)
    print("PORT", sock.getsockname()[1], flush=True)
    return sock


def serve_mute():
    sock = listen()
    held = []
    def accept():
        while True:
            try:
                held.append(sock.accept())
            except OSError:
                return
    threading.Thread(target=accept, daemon=True).start()
    sys.stdin.read()


def serve_stall_after_data(outdir):
    sock = listen()

    def session(conn):
        f = conn.makefile("rb")
        conn.sendall(b"220 stall ESMTP\r\n")
        in_data = stalled = False
        for raw in f:
            line = raw.rstrip(b"\r\n")
            if in_data:
                if line == b".":
                    in_data, stalled = False, True
                    append_line(outdir, "events.log", "DATA-END")
                continue
            if stalled:
                if line.upper() == b"QUIT":
                    append_line(outdir, "events.log", "QUIT")
                continue
            verb = line[:4].upper()
            if verb == b"EHLO":
                conn.sendall(b"250-stall\r\n250 8BITMIME\r\n")
            elif verb == b"DATA":
                in_data = True
                conn.sendall(b"354 go ahead\r\n")
            elif verb == b"QUIT":
                conn.sendall(b"221 bye\r\n")
                break
            else:
                conn.sendall(b"250 OK\r\n")
        append_line(outdir, "events.log", "CLOSED")
        conn.close()

    def accept():
        while True:
            try:
                conn, _ = sock.accept()
            except OSError:
                return
            threading.Thread(target=session, args=(conn,), daemon=True).start()
    threading.Thread(target=accept, daemon=True).start()
    sys.stdin.read()


def main():
    args = sys.argv[1:]
    outdir = args.pop(0)
    auth = tls = mechanisms = refuse = None
    replies = {}
    auth_optional = False
    fixed_port = 0
    while args:
        a = args.pop(0)
        if a == "--auth":
            user, _, password = args.pop(0).partition(":")
            auth = (user.encode(), password.encode())
        elif a == "--auth-optional":
            auth_optional = True
        elif a == "--mechanisms":
            mechanisms = args.pop(0).split(",")
        elif a == "--reply":
            # --reply mail|data|end "CODE TEXT": the answer to MAIL FROM, to
            # the DATA command, or after the end of the data.
            stage = args.pop(0)
            replies[stage] = args.pop(0)
        elif a == "--port":
            fixed_port = int(args.pop(0))
        elif a == "--refuse-rcpt":
            refuse = args.pop(0)
        elif a == "--tls":
            tls = (args.pop(0), args.pop(0))
        elif a == "--mute":
            return serve_mute()
        elif a == "--stall-after-data":
            return serve_stall_after_data(outdir)

    count = [0]

    class Handler:
        async def handle_MAIL(self, server, session, envelope, address, mail_options):
            if "mail" in replies:
                return replies["mail"]
            envelope.mail_from = address
            envelope.mail_options.extend(mail_options)
            return "250 OK"

        async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
            if refuse and refuse in address:
                return "550 5.1.1 No such user"
            envelope.rcpt_tos.append(address)
            return "250 OK"

        async def handle_DATA(self, server, session, envelope):
            if "end" in replies:
                return replies["end"]
            count[0] += 1
            login = session.auth_data.login.decode() if isinstance(session.auth_data, LoginPassword) else None
            record = {
                "mail_from": envelope.mail_from,
                "rcpt_tos": envelope.rcpt_tos,
                "data": envelope.original_content.decode("utf-8", "replace"),
                "data_hex": envelope.original_content.hex(),
                "login": login,
                "tls": session.ssl is not None,
            }
            path = os.path.join(outdir, "mail-%d.json" % count[0])
            with open(path + ".tmp", "w") as f:
                json.dump(record, f)
            os.rename(path + ".tmp", path)
            return "250 OK"

        # Offered only when --mechanisms names it; no login succeeds with it.
        async def auth_CRAM__MD5(self, server, args):
            append_line(outdir, "auth.log", "CRAM-MD5")
            return AuthResult(success=False, handled=False)

    def authenticator(server, session, envelope, mechanism, data):
        append_line(outdir, "auth.log", mechanism)
        ok = isinstance(data, LoginPassword) and auth and (data.login, data.password) == auth
        return AuthResult(success=bool(ok), handled=False, auth_data=data if ok else None)

    kwargs = {}
    if tls:
        import ssl
        ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        ctx.load_cert_chain(*tls)
        kwargs["tls_context"] = ctx
    if auth or mechanisms:
        kwargs["authenticator"] = authenticator
        kwargs["auth_require_tls"] = False
        kwargs["auth_required"] = not auth_optional
    kwargs["auth_exclude_mechanism"] = [m for m in ("LOGIN", "PLAIN", "CRAM-MD5")
                                        if mechanisms is not None and m not in mechanisms]
    if mechanisms is None:
        kwargs["auth_exclude_mechanism"].append("CRAM-MD5")
    sock = socket.socket()
    sock.bind(("127.0.0.1", fixed_port))
    port = sock.getsockname()[1]
    sock.close()
    class ReplyingSMTP(SMTP):
        async def smtp_DATA(self, arg):
            if "data" in replies:
                await self.push(replies["data"])
                return
            await super().smtp_DATA(arg)

    class ReplyingController(Controller):
        def factory(self):
            return ReplyingSMTP(self.handler, **self.SMTP_kwargs)

    controller = ReplyingController(Handler(), hostname="127.0.0.1", port=port, server_hostname="localhost", **kwargs)
    controller.start()
    print("PORT", port, flush=True)
    sys.stdin.read()
    controller.stop()


if __name__ == "__main__":
    main()
