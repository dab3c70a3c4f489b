"""Launch mode against the manual route; see launch_bench.sh."""
import os
import re
import signal
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from timed_lines import Lines  # noqa: E402

binary, runs, home = sys.argv[1], int(sys.argv[2]), sys.argv[3]
app = os.path.join(home, "app.js")
parent = os.path.join(home, "parent.js")
child = os.path.join(home, "child.js")
with open(app, "w") as f:
    f.write("console.log('start');\ndebugger;\nconsole.log('after');\n")
with open(parent, "w") as f:
    f.write("require('child_process').fork(__dirname + '/child.js');\n")
with open(child, "w") as f:
    f.write("debugger;\n")


def start(argv):
    return subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            start_new_session=True)


def stop(*processes):
    # Two interrupts end a launch with its clean-up (its private folder goes); a kill would not.
    for process in processes:
        for _ in range(2):
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
                time.sleep(0.2)
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            pass
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        process.wait()


def launch_route():
    t0 = time.monotonic()
    program = start([binary, "--", "node", app])
    try:
        attached, _ = Lines(program.stderr).wait_for("Debugger attached.")
        return attached - t0
    finally:
        stop(program)


def manual_route():
    t0 = time.monotonic()
    node = start(["node", "--inspect-brk=127.0.0.1:0", app])
    node_lines = Lines(node.stderr)
    program = None
    try:
        _, line = node_lines.wait_for("Debugger listening on ")
        address = re.search(r"ws://\S+", line).group(0)
        program = start([binary, address])
        attached, _ = node_lines.wait_for("Debugger attached.")
        return attached - t0
    finally:
        stop(*(p for p in (program, node) if p is not None))


def child_latency():
    program = start([binary, "--", "node", parent])
    lines = Lines(program.stderr)
    try:
        # The parent's window attaches first; the child starts once the parent runs on.
        deadline = time.monotonic() + 120
        while True:
            with lines.cond:
                listening = [at for at, line in lines.lines if "Debugger listening" in line]
                attached = [at for at, line in lines.lines if "Debugger attached." in line]
                if len(listening) >= 2 and len(attached) >= 2:
                    return attached[1] - listening[1]
                left = deadline - time.monotonic()
                if left <= 0:
                    raise TimeoutError("the child's window did not attach")
                lines.cond.wait(left)
    finally:
        stop(program)


launch, manual, children = [], [], []
launch_route()  # a first run warms the caches for both routes
for _ in range(runs):
    launch.append(launch_route())
    manual.append(manual_route())
    children.append(child_latency())

launch_median = statistics.median(launch)
manual_median = statistics.median(manual)
print(f"runs: {runs}")
print(f"launch  (-- node app.js -> attached): median {launch_median * 1000:.0f} ms "
      f"(min {min(launch) * 1000:.0f}, max {max(launch) * 1000:.0f})")
print(f"manual  (--inspect-brk, then the program): median {manual_median * 1000:.0f} ms "
      f"(min {min(manual) * 1000:.0f}, max {max(manual) * 1000:.0f})")
print(f"ratio launch/manual: {launch_median / manual_median:.2f}")
print(f"child   (its 'Debugger listening' -> its window attached): median "
      f"{statistics.median(children) * 1000:.0f} ms (max {max(children) * 1000:.0f})")
