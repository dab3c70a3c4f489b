"""The large-script benchmark's rounds (see large_script_bench.sh)."""
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from timed_lines import Lines

binary, tools, display = sys.argv[1], sys.argv[2], sys.argv[3]
runs, sizes = int(sys.argv[4]), [float(s) for s in sys.argv[5:]]
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
work = tempfile.mkdtemp(prefix="quelby-large-script-bench-")
PAUSED_LINE = bytes([253, 243, 170]) * 400  # the paused line's colour across the editor
LIMIT = 180


def make_script(megabytes):
    """One short function per line, then a loop; returns the path and the line of the call."""
    path = os.path.join(work, f"big{megabytes:g}.js")
    line = ("function f{0}(a, b) {{ const s = \"value number {0} of the generated bundle\"; "
            "return a + b * {0} + s.length; }}\n")
    count = int(megabytes * 1e6 / len(line.format(50000)))
    with open(path, "w") as out:
        out.writelines(line.format(i) for i in range(count))
        out.write("let total = 0;\nfor (let i = 0; i < 3; i++) {\n  console.log('before ' + i);\n"
                  "  total += f1(i, 2);\n  console.log('after ' + i);\n}\n")
    return path, count + 4


def environment():
    home = tempfile.mkdtemp(dir=work)
    env = dict(os.environ, DISPLAY=display, HOME=home, XDG_CONFIG_HOME=home + "/config",
               XDG_DATA_HOME=home + "/data", XDG_CACHE_HOME=home + "/cache",
               GSETTINGS_BACKEND="memory", LANG="C.UTF-8")
    env.pop("QUELBY_INSPECTOR_FRONTEND", None)
    return env


def start_node(script, env):
    node = subprocess.Popen(["node", "--inspect-brk=127.0.0.1:0", script], env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    err, out = Lines(node.stderr), Lines(node.stdout)
    _, line = err.wait_for("Debugger listening on ws://", LIMIT)
    return node, err, out, re.search(r"ws://([^/\s]+)/", line).group(1)


def screen_shows_paused_line():
    shot = subprocess.run(["import", "-display", display, "-window", "root", "-depth", "8", "rgb:-"],
                          capture_output=True, check=True).stdout
    return PAUSED_LINE in shot


def wait_for_paused_line():
    deadline = time.monotonic() + LIMIT
    while time.monotonic() < deadline:
        if screen_shows_paused_line():
            return time.monotonic()
        time.sleep(0.05)
    raise TimeoutError("paused line")


def keys(env, *args):
    subprocess.run(["xdotool", *args], env=env, check=True)


def window_round(script, call_line):
    env = environment()
    node, err, out, address = start_node(script, env)
    program = subprocess.Popen([binary, address], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        attached, _ = err.wait_for("Debugger attached", LIMIT)
        revealed = wait_for_paused_line()
        keys(env, "key", "ctrl+g")
        time.sleep(0.5)
        keys(env, "type", str(call_line))
        keys(env, "key", "Return")
        time.sleep(0.3)
        keys(env, "key", "ctrl+b")
        time.sleep(1)
        resumed = time.monotonic()
        keys(env, "key", "F8")
        out.wait_for("before 0", LIMIT)
        paused = wait_for_paused_line()
        return revealed - attached, paused - resumed
    finally:
        program.kill()
        node.kill()
        program.wait()
        node.wait()


def chromium_round(script, call_line):
    env = environment()
    node, err, out, address = start_node(script, env)
    server = subprocess.Popen([binary, "--serve", address], env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT)
    served = Lines(server.stdout)
    driver = None
    try:
        _, line = served.wait_for("http://", LIMIT)
        url = re.search(r"http://\S+", line).group(0)
        driver = subprocess.Popen(
            ["node", os.path.join(root, "bench", "large_script_chromium.mjs"),
             shutil.which("chromium"), url, str(call_line)],
            env=dict(env, QUELBY_PLAYWRIGHT=os.path.join(tools, "node_modules", "playwright-core")),
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        steps = Lines(driver.stdout)
        attached, _ = err.wait_for("Debugger attached", LIMIT)
        revealed, _ = steps.wait_for("revealed", LIMIT)
        resumed, _ = steps.wait_for("resumed", LIMIT)
        steps.wait_for("paused", LIMIT)
        out.wait_for("before 0", LIMIT)
        paused, _ = steps.wait_for("paused", LIMIT)
        return revealed - attached, paused - resumed
    finally:
        for process in (driver, server, node):
            if process:
                process.kill()
                process.wait()


wm = subprocess.Popen(["matchbox-window-manager", "-use_titlebar", "yes"],
                      env=dict(os.environ, DISPLAY=display), stderr=subprocess.DEVNULL)
try:
    table = []
    for megabytes in sizes:
        script, call_line = make_script(megabytes)
        results = {"window": [], "chromium": []}
        for _ in range(runs):
            for name, round_ in (("window", window_round), ("chromium", chromium_round)):
                try:
                    results[name].append(round_(script, call_line))
                except TimeoutError as error:
                    print(f"{megabytes:g} MB {name}: timed out waiting for {error}", flush=True)
                    results[name].append((float("inf"), float("inf")))
                print(f"{megabytes:g} MB {name}: reveal {results[name][-1][0]:.2f} s, "
                      f"F8 to paused {results[name][-1][1]:.2f} s", flush=True)
        med = {name: [statistics.median(r[i] for r in rounds) for i in (0, 1)]
               for name, rounds in results.items()}
        table.append((megabytes, med))
    print("\nsize   | reveal: window  chromium  ratio | F8→paused: window  chromium  ratio")
    for megabytes, med in table:
        w, c = med["window"], med["chromium"]
        print(f"{megabytes:4g} MB | {w[0]:14.2f} {c[0]:9.2f} {w[0] / c[0]:6.2f} |"
              f" {w[1]:17.2f} {c[1]:9.2f} {w[1] / c[1]:6.2f}")
finally:
    wm.kill()
    shutil.rmtree(work, ignore_errors=True)
