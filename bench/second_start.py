#!/usr/bin/python3
"""How fast a second start of the same user's window ends.

Usage: bench/second_start.py [--runs N] [--build DIR]

Starts the RAID program's window (drawn offscreen) on the demo, waits until
it listens for a second start, then starts the program again N times and
measures each second process from its start to its end: it asks the running
window to come to the front and leaves. Prints the runs, the median and the
worst time and the exit codes seen; the goal is under 0.5 s.
"""
import argparse, os, statistics, subprocess, sys, tempfile, time

HERE = os.path.dirname(os.path.abspath(__file__))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=50)
    ap.add_argument("--build", default=os.path.join(HERE, "..", "build-bench"))
    args = ap.parse_args()
    exe = os.path.join(args.build, "kestrel-raid-gui")
    with tempfile.TemporaryDirectory() as run, tempfile.TemporaryDirectory() as files:
        os.chmod(run, 0o700)
        env = dict(os.environ, KESTREL_RUN_DIR=run, XDG_RUNTIME_DIR=run, QT_QPA_PLATFORM="offscreen", DISPLAY=":none")
        env.pop("WAYLAND_DISPLAY", None)
        common = ["--simulate", "--log-dir", files, "--registry", os.path.join(files, "settings.ini")]
        first = subprocess.Popen([exe] + common, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        socket = os.path.join(run, "window-%d.sock" % os.getuid())
        deadline = time.monotonic() + 30
        while not os.path.exists(socket):
            if time.monotonic() > deadline or first.poll() is not None:
                sys.exit("second_start: the first window never listened")
            time.sleep(0.02)
        times, codes, noisy = [], set(), 0
        try:
            for _ in range(args.runs):
                start = time.monotonic()
                p = subprocess.run([exe] + common, env=env, capture_output=True, timeout=10)
                times.append(time.monotonic() - start)
                codes.add(p.returncode)
                noisy += bool(p.stdout or p.stderr)
        finally:
            first.terminate()
            first.wait(timeout=10)
    print("second start: %d runs, median %.3f s, worst %.3f s, exit codes %s, runs that printed: %d (goal: under 0.5 s)"
          % (len(times), statistics.median(times), max(times), sorted(codes), noisy))


if __name__ == "__main__":
    main()
