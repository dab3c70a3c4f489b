"""Time from process start to node's "Debugger attached." for the program's window and for headless
Chromium on the same front-end files (and, when given, another build of the program in the same runs),
the memory of each once attached, and the start-up cost of the paths that open no window. Run through
window_attach_bench.sh."""

import os
import re
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tarfile
import tempfile
import threading
import time
import urllib.request

LISTENING = re.compile(rb"Debugger listening on ws://((127\.0\.0\.1:\d+)/[0-9a-f-]+)")
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync"]


def read_until(stream, pattern, deadline):
    data = b""
    while time.monotonic() < deadline:
        ready, _, _ = select.select([stream], [], [], max(0.0, deadline - time.monotonic()))
        if not ready:
            break
        chunk = os.read(stream.fileno(), 4096)
        if not chunk:
            break
        data += chunk
        match = pattern.search(data)
        if match:
            return match
    raise RuntimeError("timed out waiting for %r; got %r" % (pattern.pattern, data[-400:]))


def start_node(env):
    node = subprocess.Popen(["node", "--inspect=127.0.0.1:0", "-e", "setInterval(() => {}, 1000)"],
                            stderr=subprocess.PIPE, env=env)
    match = read_until(node.stderr, LISTENING, time.monotonic() + 30)
    return node, (match.group(2).decode(), match.group(1).decode())


def stop(process):
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    process.wait()


def descendants(pid):
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/stat" % entry) as stat:
                    fields = stat.read().rsplit(")", 1)[1].split()
                children.setdefault(int(fields[1]), []).append(int(entry))
            except OSError:
                pass
    found, todo = [], [pid]
    while todo:
        current = todo.pop()
        found.append(current)
        todo.extend(children.get(current, []))
    return found


def memory_mib(pid):
    """Summed RSS and PSS (MiB) of a process and all its descendants, with each one's share."""
    rss = pss = 0
    parts = []
    for member in descendants(pid):
        try:
            with open("/proc/%d/smaps_rollup" % member) as rollup:
                values = dict(line.split(":", 1) for line in rollup if line.startswith(("Rss:", "Pss:")))
            with open("/proc/%d/comm" % member) as comm:
                name = comm.read().strip()
        except OSError:
            continue
        member_rss = int(values["Rss"].split()[0]) / 1024
        member_pss = int(values["Pss"].split()[0]) / 1024
        rss += member_rss
        pss += member_pss
        parts.append("%s %.0f" % (name, member_pss))
    return rss, pss, parts


def fresh_home(work):
    """A home folder with nothing in it: no WebKit caches, no stored settings."""
    home = tempfile.mkdtemp(dir=work, prefix="home-")
    os.makedirs(os.path.join(home, "run"), mode=0o700)
    return home


def web_process_cpu(pid, started_boot):
    """The WebKit web process under `pid`: when it started (seconds after `started_boot`, on the boot
    clock) and the CPU seconds it has used; NaN when there is none."""
    ticks = os.sysconf("SC_CLK_TCK")
    for member in descendants(pid):
        try:
            with open("/proc/%d/comm" % member) as comm:
                if not comm.read().startswith("WebKitWebProces"):
                    continue
            with open("/proc/%d/stat" % member) as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        # After the command: state is field 3 of stat(5), utime 14, stime 15, starttime 22.
        return int(fields[19]) / ticks - started_boot, (int(fields[11]) + int(fields[12])) / ticks
    return float("nan"), float("nan")


def home_env(env, home):
    return dict(env, HOME=home, XDG_CONFIG_HOME=home + "/config", XDG_CACHE_HOME=home + "/cache",
                XDG_DATA_HOME=home + "/data", XDG_STATE_HOME=home + "/state", XDG_RUNTIME_DIR=home + "/run")


class LineClock(threading.Thread):
    """Reads a stream line by line and keeps each line with the monotonic time it arrived."""

    def __init__(self, stream):
        super().__init__(daemon=True)
        self.stream, self.lines = stream, []
        self.start()

    def run(self):
        for line in iter(self.stream.readline, b""):
            self.lines.append((time.monotonic(), line))


def attach_once(command, env, address_to_argv, measure_memory, timeline=False):
    node, address = start_node(env)
    try:
        started = time.monotonic()
        log = open(os.path.join(env["HOME"], "contender.log"), "wb")
        mapped = None
        if timeline:
            # The X server announces the window's mapping on the root window.
            mapped = subprocess.Popen(["xev", "-root", "-event", "substructure"], env=env, stdout=subprocess.PIPE,
                                      stderr=subprocess.DEVNULL)
            mapped_lines = LineClock(mapped.stdout)
            time.sleep(0.2)
            started = time.monotonic()
        started_boot = time.clock_gettime(time.CLOCK_BOOTTIME)
        program = subprocess.Popen(address_to_argv(command, address), env=env, stdout=log,
                                   stderr=subprocess.PIPE if timeline else log, start_new_session=True)
        served = LineClock(program.stderr) if timeline else None
        try:
            try:
                read_until(node.stderr, re.compile(rb"Debugger attached\."), started + 60)
            except RuntimeError:
                with open(log.name, "rb") as output:
                    raise RuntimeError("%s did not attach; its output: %r" % (command, output.read()[-800:]))
            attached = time.monotonic()
            elapsed = attached - started
            # Whether the page was waiting or working: the web process's CPU time up to the attach.
            web_started, web_cpu = web_process_cpu(program.pid, started_boot) if timeline else (None, None)
            memory = None
            if measure_memory:
                time.sleep(3)  # let the page settle before reading its footprint
                memory = memory_mib(program.pid)
            if timeline:
                requests = [at for at, line in served.lines if b"page: served" in line and at <= attached]
                maps = [at for at, line in mapped_lines.lines if line.startswith(b"MapNotify")]
                return elapsed, {"window mapped": (maps[0] - started) if maps else float("nan"),
                                 "first scheme request": requests[0] - started if requests else float("nan"),
                                 "last scheme request before attach": requests[-1] - started if requests else float("nan"),
                                 "requests before attach": len(requests),
                                 "\"Debugger attached.\"": elapsed,
                                 "web process started": web_started,
                                 "web process CPU until attach": web_cpu}
            return elapsed, memory
        finally:
            stop(program)
            if mapped:
                mapped.kill()
                mapped.wait()
    finally:
        node.kill()
        node.wait()


def whole_process(argv, env):
    """Wall time of one run, and its peak RSS as GNU time reports it (a child forked from this
    Python process would carry the interpreter's high-water mark across exec)."""
    started = time.monotonic()
    subprocess.run(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.monotonic() - started
    measured = subprocess.run(["/usr/bin/time", "-f", "%M"] + argv, env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE)
    return elapsed, int(measured.stderr.split()[-1]) / 1024


def main():
    binary, tarball, display, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    baseline = sys.argv[5] if len(sys.argv) > 5 else None
    work = tempfile.mkdtemp(prefix="quelby-attach-bench-")
    try:
        with tarfile.open(tarball) as archive:
            archive.extractall(work)
        front_end = os.path.join(work, "package", "public", "front_end")
        env = home_env(dict(os.environ, DISPLAY=display, LANG="C.UTF-8"), fresh_home(work))
        env.pop("WAYLAND_DISPLAY", None)
        env.pop("QUELBY_INSPECTOR_FRONTEND", None)

        server = subprocess.Popen([sys.executable, "-m", "http.server", "--bind", "127.0.0.1", "0"], cwd=front_end,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        times, memory = {}, {}
        try:
            port = read_until(server.stdout, re.compile(rb"port (\d+)"), time.monotonic() + 10).group(1).decode()
            base = "http://127.0.0.1:%s/" % port
            for path, wanted in (("entrypoints/js_app/js_app.js", "text/javascript"), ("Images/3d-center.svg",
                                                                                       "image/svg+xml")):
                served = urllib.request.urlopen(base + path).headers.get_content_type()
                if served != wanted:
                    raise RuntimeError("the static server gives %s as %s, not %s" % (path, served, wanted))

            def program_argv(command, address):
                return [command, address[0]]

            chromium = shutil.which("chromium") or "/usr/bin/chromium"
            warm_profile = tempfile.mkdtemp(dir=work, prefix="chromium-warm-")
            warm_home = fresh_home(work)

            def chromium_argv(profile):
                def to_argv(command, address):
                    url = "%sjs_app.html?ws=%s&experiments=true&v8only=true" % (base, address[1])
                    return [command] + CHROMIUM_FLAGS + ["--user-data-dir=" + (profile or tempfile.mkdtemp(dir=work)),
                                                         url]
                return to_argv

            # Cold: an empty home (no WebKit caches, no stored settings) or an empty Chromium profile every
            # run. Warm: one home or profile, used once before the measured runs.
            contenders = [("quelby window, cold", binary, program_argv, lambda: home_env(env, fresh_home(work))),
                          ("headless chromium, cold", chromium, chromium_argv(None), lambda: env),
                          ("quelby window, warm", binary, program_argv, lambda: home_env(env, warm_home)),
                          ("headless chromium, warm", chromium, chromium_argv(warm_profile), lambda: env)]
            windows = [("quelby window", binary, warm_home)]
            if baseline:
                # Another build of the program (e.g. of main), in the same interleaved runs, so that a
                # change is judged against figures taken under the same load.
                baseline_warm_home = fresh_home(work)
                contenders += [("baseline window, cold", baseline, program_argv, lambda: home_env(env, fresh_home(work))),
                               ("baseline window, warm", baseline, program_argv,
                                lambda: home_env(env, baseline_warm_home))]
                windows.append(("baseline window", baseline, baseline_warm_home))
            for name, command, to_argv, contender_env in contenders:
                if "warm" in name:
                    attach_once(command, contender_env(), to_argv, False)
            times = {name: [] for name, *_ in contenders}
            for run in range(runs):  # interleaved, so that drift in the machine's load hits all alike
                for name, command, to_argv, contender_env in contenders:
                    elapsed, footprint = attach_once(command, contender_env(), to_argv, run == 0 and "warm" in name)
                    times[name].append(elapsed)
                    if footprint:
                        memory[name] = footprint
            # Where the window's time goes, from its own account of each file it serves (the diagnostics
            # switch) and the X server's word that the window is mapped; measured in runs of their own.
            phases = {name: {} for name, *_ in windows}
            for _ in range(runs):
                for name, command, home in windows:
                    _, marks = attach_once(command, dict(home_env(env, home),
                                                         QUELBY_INSPECTOR_PAGE_DIAGNOSTICS="requests"),
                                           program_argv, False, timeline=True)
                    for phase, value in marks.items():
                        phases[name].setdefault(phase, []).append(value)
        finally:
            server.kill()
            server.wait()

        print("start -> \"Debugger attached.\" (median of %d runs, seconds)" % runs)
        for name, values in times.items():
            baseline = statistics.median(times["headless chromium, " + name.rsplit(", ", 1)[1]])
            median = statistics.median(values)
            versus_baseline = ""
            if name.startswith("quelby window") and "baseline window, " + name.rsplit(", ", 1)[1] in times:
                versus_baseline = "  ratio to baseline %.2f" % (
                    median / statistics.median(times["baseline window, " + name.rsplit(", ", 1)[1]]))
            print("  %-36s median %.3f  min %.3f  max %.3f  ratio to chromium %.2f%s" %
                  (name, median, min(values), max(values), median / baseline, versus_baseline))
        for name, window_phases in phases.items():
            print("%s: start-up, warm (median of %d runs, seconds from process start)" % (name, runs))
            for phase, values in window_phases.items():
                print("  %-36s %.3f" % (phase, statistics.median(values)))
        print("memory once attached (the process and all its descendants, MiB)")
        for name, (rss, pss, parts) in memory.items():
            print("  %-36s RSS %.0f  PSS %.0f   [%s]" % (name, rss, pss, ", ".join(parts)))

        node, address = start_node(env)
        try:
            paths = [("--print-url", [binary, "--print-url", address[0]]), ("usage report", [binary]),
                     ("/bin/true (reference)", ["/bin/true"])]
            print("paths that open no window (median of %d runs)" % (runs * 10))
            for name, argv in paths:
                samples = [whole_process(argv, env) for _ in range(runs * 10)]
                print("  %-36s time %.1f ms  peak RSS %.1f MiB" %
                      (name, 1000 * statistics.median(s[0] for s in samples), max(s[1] for s in samples)))
        finally:
            node.kill()
            node.wait()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
