"""A real SMTP server for the tests (aiosmtpd), on 127.0.0.1.

Usage: smtp_server.py OUTDIR [--auth USER:PASSWORD] [--tls CERT KEY] [--mute]
Prints "PORT <n>" once listening; stops when its standard input closes.
Each message received is written to OUTDIR/mail-<n>.json with the envelope
and the raw message text. --mute accepts connections but never answers.
"""
import asyncio, json, os, socket, sys, threading
from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


def main():
    args = sys.argv[1:]
    outdir = args.pop(0)
    auth = tls = None
    mute = False
    while args:
        a = args.pop(0)
        if a == "--auth":
            user, _, password = args.pop(0).partition(":")
            auth = (user.encode(), password.encode())
        elif a == "--tls":
            tls = (args.pop(0), args.pop(0))
        elif a == "--mute":
            mute = True
    if mute:
        sock = socket.socket()
        sock.bind(("127.0.0.1", 0))
        sock.listen(5)
        print("PORT", sock.getsockname()[1], flush=True)
        held = []
        def accept():
            while True:
                try:
                    held.append(sock.accept())
                except OSError:
                    return
        threading.Thread(target=accept, daemon=True).start()
        sys.stdin.read()
        return

    count = [0]

    class Handler:
        async def handle_DATA(self, server, session, envelope):
            count[0] += 1
            record = {
                "mail_from": envelope.mail_from,
                "rcpt_tos": envelope.rcpt_tos,
                "data": envelope.original_content.decode("utf-8", "replace"),
                "login": session.auth_data.login.decode() if isinstance(session.auth_data, LoginPassword) else None,
                "tls": session.ssl is not None,
            }
            path = os.path.join(outdir, "mail-%d.json" % count[0])
            with open(path + ".tmp", "w") as f:
                json.dump(record, f)
            os.rename(path + ".tmp", path)
            return "250 OK"

    def authenticator(server, session, envelope, mechanism, data):
        ok = isinstance(data, LoginPassword) and auth and (data.login, data.password) == auth
        return AuthResult(success=bool(ok), handled=False, auth_data=data if ok else None)

    kwargs = {}
    if tls:
        import ssl
        ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        ctx.load_cert_chain(*tls)
        kwargs["tls_context"] = ctx
    if auth:
        kwargs["authenticator"] = authenticator
        kwargs["auth_require_tls"] = False
        kwargs["auth_required"] = True
    sock = socket.socket()
    sock.bind(("127.0.0.1", 0))
    port = sock.getsockname()[1]
    sock.close()
    controller = Controller(Handler(), hostname="127.0.0.1", port=port, server_hostname="localhost", **kwargs)
    controller.start()
    print("PORT", port, flush=True)
    sys.stdin.read()
    controller.stop()


if __name__ == "__main__":
    main()
