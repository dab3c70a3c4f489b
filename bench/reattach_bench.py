"""Re-attach latency of the window against node; see reattach_bench.sh."""
import os
import re
import select
import signal
import statistics
import subprocess
import sys
import time

LISTENING = re.compile(rb"Debugger listening on ws://(127\.0\.0\.1:\d+)/")
ATTACHED = b"Debugger attached."
KEEP_ALIVE = "setInterval(() => {}, 1000)"


class Node:
    """node --inspect on ADDRESS, its stderr read as it comes, with the time each line arrived."""

    def __init__(self, address):
        self.process = subprocess.Popen(
            ["node", "--inspect=" + address, "-e", KEEP_ALIVE],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.text = b""

    def wait_for(self, pattern, limit):
        """The time `pattern` was first seen in stderr, and its match; None after `limit` s."""
        end = time.monotonic() + limit
        while True:
            found = pattern.search(self.text) if hasattr(pattern, "search") else (
                pattern in self.text or None)
            if found:
                return time.monotonic(), found
            left = end - time.monotonic()
            if left <= 0:
                return None, None
            ready, _, _ = select.select([self.process.stderr], [], [], left)
            if ready:
                chunk = os.read(self.process.stderr.fileno(), 65536)
                if not chunk:
                    return None, None
                self.text += chunk

    def kill(self):
        self.process.kill()
        self.process.wait()


def fresh_start(binary):
    """Baseline: the program started on a running node, start -> attached."""
    node = Node("127.0.0.1:0")
    _, match = node.wait_for(LISTENING, 30)
    started = time.monotonic()
    program = subprocess.Popen([binary, match.group(1).decode()], stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               start_new_session=True)
    attached, _ = node.wait_for(ATTACHED, 60)
    os.killpg(program.pid, signal.SIGKILL)
    program.wait()
    node.kill()
    if attached is None:
        sys.exit("bench: a fresh window did not attach within 60 s")
    return attached - started


def reattaches(binary, runs):
    """Listening -> attached for each restart of node under one window."""
    node = Node("127.0.0.1:0")
    _, match = node.wait_for(LISTENING, 30)
    address = match.group(1).decode()
    program = subprocess.Popen([binary, address], stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               start_new_session=True)
    if node.wait_for(ATTACHED, 60)[0] is None:
        sys.exit("bench: the window did not attach within 60 s")
    times = []
    try:
        for _ in range(runs):
            node.kill()
            node = Node(address)
            listening, _ = node.wait_for(LISTENING, 30)
            if listening is None:
                sys.exit("bench: node did not listen again on " + address)
            attached, _ = node.wait_for(ATTACHED, 30)
            if attached is None:
                sys.exit("bench: no re-attach within 30 s")
            times.append(attached - listening)
            time.sleep(0.5)  # let the front end settle before the next restart
    finally:
        os.killpg(program.pid, signal.SIGKILL)
        program.wait()
        node.kill()
    return times


def report(name, times):
    print(f"  {name:34s} median {statistics.median(times) * 1000:7.0f} ms   "
          f"min {min(times) * 1000:5.0f}   max {max(times) * 1000:5.0f}   (n={len(times)})")


def main():
    binary, runs = sys.argv[1], int(sys.argv[2])
    fresh_start(binary)  # warms the home folder and the page cache for both series
    baseline = [fresh_start(binary) for _ in range(runs)]
    again = reattaches(binary, runs)
    print("re-attach latency (node #2 'Debugger listening' -> 'Debugger attached.')")
    report("re-attach, same window", again)
    report("baseline: program started afresh", baseline)
    ratio = statistics.median(again) / statistics.median(baseline)
    goal = "met" if statistics.median(again) < 1.0 else "NOT met"
    print(f"  ratio re-attach / fresh start: {ratio:.2f}; goal (median under 1 s) {goal}")


if __name__ == "__main__":
    main()
