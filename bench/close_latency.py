#!/usr/bin/python3
"""How long the program takes to end once asked to close while it is busy.

Usage: bench/close_latency.py [--runs N] [--build DIR] [--case NAME ...]

Each case starts the real program (the window, drawn offscreen) on a
simulated enclosure, waits until it is in the busy state, sends SIGTERM
(which closes the window as its close button does) and measures the time
from the signal to the end of the process. Prints, per case, the runs, the
worst and the median time and the exit codes seen; the goal is a worst
time under 2 s. Cases:

  hybrid-question  the hybrid program with the unmatched-SSD notice open
                   and its restore question waiting behind it
  settings-load    mail settings and alert texts present; the close comes
                   while the start-up load runs
  mail-exchange    an alert mail is under way to a server that accepted
                   the connection and never answers
  detection        detection slowed twentyfold, inside its first pause
"""
import argparse, os, signal, socket, statistics, subprocess, sys, tempfile, threading, time

HERE = os.path.dirname(os.path.abspath(__file__))

SCENARIO = """{
  "enclosures": [
    {"name": "desk", "paths": ["mailbox"],
     "identity": {"model": "KESTREL HYBRID", "firmwareRevision": "100126.1"},
     "status": {"raidMode": 1, "diskState": "%s", "configuredCapacity": 1953525168,
                "disk1Model": "SAMSUNG SSD 850", "disk1Serial": "S1", "disk1Capacity": 1953525168,
                "disk2Model": "ST1000DM003", "disk2Serial": "Z1D2", "disk2Capacity": 1953525168}}
  ],
  "drives": [{"number": 0, "model": "SYSTEM DISK"}, {"number": 1, "enclosure": "desk"}],
  "volumes": [{"letter": "C", "disk": 0}, {"letter": "E", "disk": 1}],
  "timeline": [%s]
}"""

PULL = '{"afterStatusReads": 2, "enclosure": "desk", "action": "pull-disk", "disk": 2}'


class MuteServer:
    """Accepts connections and never answers; tells when one arrived."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.port = self.sock.getsockname()[1]
        self.held = []
        self.arrived = threading.Event()
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            self.held.append(conn)
            self.arrived.set()

    def drop(self):
        for c in self.held:
            c.close()
        self.held.clear()
        self.arrived.clear()


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


def one_run(build, case, mute):
    with tempfile.TemporaryDirectory() as files, tempfile.TemporaryDirectory() as runtime:
        os.chmod(runtime, 0o700)
        exe = os.path.join(build, "kestrel-hybrid-gui" if case == "hybrid-question" else "kestrel-raid-gui")
        disk_state = "0x28" if case == "hybrid-question" else "0x22"
        timeline = PULL if case == "mail-exchange" else ""
        scenario = os.path.join(files, "scenario.json")
        write(scenario, SCENARIO % (disk_state, timeline))
        registry = os.path.join(files, "registry.ini")
        if case in ("settings-load", "mail-exchange"):
            port = mute.port if case == "mail-exchange" else 1
            write(registry, "[KESTREL_RAID_GUI]\nAddr=raid@example.com\nPort=%d\nSMTP=127.0.0.1\n"
                            "ToAddrCount=1\nToAddr_00=ops@example.com\nUserName=RAID box\n" % port)
            for kind in ("Hard Disks Fail", "Device Removed", "Over Heat", "Fan Fail"):
                write(os.path.join(files, "EmailSubject %s.txt" % kind), "Alert\r\n")
                write(os.path.join(files, "EmailContens %s.txt" % kind), "line\r\n" * 2000)
        args = [exe, "--simulate", scenario, "--log-dir", files, "--registry", registry]
        if case == "detection":
            args += ["--time-scale", "20"]
        env = dict(os.environ, XDG_RUNTIME_DIR=runtime, QT_QPA_PLATFORM="offscreen", DISPLAY=":none")
        env.pop("WAYLAND_DISPLAY", None)
        p = subprocess.Popen(args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if case == "hybrid-question":
            time.sleep(1.5)      # the notice is up after the first status read
        elif case == "settings-load":
            time.sleep(0.15)     # the load runs right after the start
        elif case == "detection":
            time.sleep(1.0)      # the first pause lasts 10 s
        else:
            if not mute.arrived.wait(30):
                p.kill()
                p.wait()
                return None, "no connection"
        if p.poll() is not None:
            return None, "ended early (%d)" % p.returncode
        start = time.monotonic()
        p.send_signal(signal.SIGTERM)
        try:
            code = p.wait(60)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
            return None, "hung"
        took = time.monotonic() - start
        mute.drop()
        return took, code


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--runs", type=int, default=200)
    ap.add_argument("--build", default=os.path.join(HERE, "..", "build"))
    ap.add_argument("--case", action="append",
                    choices=["hybrid-question", "settings-load", "mail-exchange", "detection"])
    a = ap.parse_args()
    cases = a.case or ["hybrid-question", "settings-load", "mail-exchange", "detection"]
    mute = MuteServer()
    worst_all = 0.0
    failed = False
    for case in cases:
        times, codes, problems = [], {}, {}
        for _ in range(a.runs):
            took, code = one_run(a.build, case, mute)
            if took is None:
                problems[code] = problems.get(code, 0) + 1
                continue
            times.append(took)
            codes[code] = codes.get(code, 0) + 1
        worst = max(times) if times else float("nan")
        worst_all = max(worst_all, worst) if times else worst_all
        failed |= bool(problems) or any(c != 0 for c in codes)
        print("%-16s runs %4d  worst %6.3f s  median %6.3f s  exit codes %s%s" % (
            case, len(times), worst, statistics.median(times) if times else float("nan"), codes,
            ("  problems %s" % problems) if problems else ""), flush=True)
    print("worst of all: %.3f s (goal 2 s)" % worst_all)
    return 1 if failed or worst_all > 2.0 else 0


if __name__ == "__main__":
    sys.exit(main())
