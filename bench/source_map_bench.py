"""The source-map benchmark's rounds (see source_map_bench.sh)."""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from timed_lines import Lines

binary, tools, display, runs, megabytes = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), float(sys.argv[5])
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
work = tempfile.mkdtemp(prefix="quelby-map-bench-")


def make_project():
    """A TypeScript project whose esbuild bundle is about `megabytes` MB, with its map beside it."""
    src = os.path.join(work, "src")
    os.makedirs(src)
    per_module = 400
    body = "".join(
        f"export function f{i}(a: number, b: string): string {{ const x = a * {i} + b.length; "
        f"return b.repeat(x % 3) + String(x); }}\n" for i in range(per_module))
    modules = max(1, int(megabytes * 1e6 / len(body)))
    for m in range(modules):
        with open(os.path.join(src, f"m{m}.ts"), "w") as out:
            out.write(body)
    with open(os.path.join(src, "app.ts"), "w") as out:
        for m in range(modules):
            out.write(f"import * as m{m} from './m{m}';\n")
        out.write("const all = [" + ", ".join(f"m{m}" for m in range(modules)) + "];\n")
        out.write("setInterval(() => console.log(all.length), 1000);\n")
    subprocess.run([os.path.join(tools, "node_modules", ".bin", "esbuild"), "src/app.ts", "--bundle",
                    "--platform=node", "--sourcemap", "--outfile=dist/bundle.js", "--log-level=error"],
                   cwd=work, check=True)
    size = os.path.getsize(os.path.join(work, "dist", "bundle.js"))
    map_size = os.path.getsize(os.path.join(work, "dist", "bundle.js.map"))
    print(f"bundle: {size / 1e6:.1f} MB, map: {map_size / 1e6:.1f} MB, {modules} modules")


def start_node():
    node = subprocess.Popen(["node", "--inspect-brk=127.0.0.1:0", "dist/bundle.js"], cwd=work,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    lines = Lines(node.stderr)
    _, line = lines.wait_for("Debugger listening on ws://")
    return node, lines, line.split("ws://")[1].strip()


def stop(*processes):
    for p in processes:
        p.kill()
        p.wait()


def window_round():
    node, node_lines, target = start_node()
    home = tempfile.mkdtemp(dir=work)
    env = dict(os.environ, DISPLAY=display, HOME=home, XDG_CONFIG_HOME=home + "/config",
               XDG_CACHE_HOME=home + "/cache", XDG_DATA_HOME=home + "/data", LANG="C.UTF-8",
               GSETTINGS_BACKEND="memory", QUELBY_INSPECTOR_PAGE_DIAGNOSTICS="requests")
    program = subprocess.Popen([binary, target], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE)
    program_lines = Lines(program.stderr)
    try:
        attached, _ = node_lines.wait_for("Debugger attached.")
        delivered, _ = program_lines.wait_for("loaded file://" + work + "/dist/bundle.js.map")
        return delivered - attached
    finally:
        stop(program, node)


def chromium_round():
    node, node_lines, target = start_node()
    program = subprocess.Popen([binary, "--serve", target], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
    program_lines = Lines(program.stdout)
    _, line = program_lines.wait_for("http://")
    url = line[line.index("http://"):].strip()
    script = (
        "const {chromium} = require(process.argv[1]);"
        "(async () => {"
        " const browser = await chromium.launch({executablePath: '" + shutil.which("chromium") + "', args: ['--no-sandbox',"
        "  '--disable-gpu']});"
        " const page = await browser.newPage();"
        " page.on('requestfinished', (r) => { console.log('finished ' + r.url()); });"
        " await page.goto(process.argv[2]);"
        " await new Promise((resolve) => setTimeout(resolve, 60000));"
        "})();")
    browser = subprocess.Popen(["node", "-e", script, os.path.join(tools, "node_modules", "playwright-core"), url],
                               stdout=subprocess.PIPE, start_new_session=True)
    browser_lines = Lines(browser.stdout)
    try:
        attached, _ = node_lines.wait_for("Debugger attached.")
        delivered, _ = browser_lines.wait_for("bundle.js.map")
        return delivered - attached
    finally:
        os.killpg(browser.pid, 9)
        browser.wait()
        stop(program, node)


make_project()
results = {"window": [], "chromium": []}
for i in range(runs):
    for name, round_ in (("window", window_round), ("chromium", chromium_round)):
        results[name].append(round_())
for name, times in results.items():
    print(f"{name:9s} attach -> map delivered: median {statistics.median(times) * 1000:7.0f} ms "
          f"(range {min(times) * 1000:.0f}-{max(times) * 1000:.0f} ms, {runs} runs)")
ratio = statistics.median(results["window"]) / statistics.median(results["chromium"])
print(f"window / chromium: {ratio:.2f}x (goal <= 1x)")
shutil.rmtree(work, ignore_errors=True)
