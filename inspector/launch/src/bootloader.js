// Loaded first into every node process of a launched command (through NODE_OPTIONS --require):
// opens the inspector on a free loopback port, reports its address to the program that launched
// the command, and, when asked to, holds the process before its first line until a debugger has
// attached. Silent and inert when the program's channel is not there.
'use strict';
(function () {
    const env = process.env;
    const channel = env.QUELBY_INSPECTOR_LAUNCH_CHANNEL;
    const secret = env.QUELBY_INSPECTOR_LAUNCH_SECRET;
    if (!channel || !secret) {
        return;
    }
    // A worker thread shares its process's inspector: it is debugged from the process's window.
    try {
        if (!require('worker_threads').isMainThread) {
            return;
        }
    } catch (error) {
        return;
    }
    const inspector = require('inspector');
    const fs = require('fs');
    const path = require('path');

    // A process started with --inspect of its own keeps its port.
    let url = inspector.url();
    if (!url) {
        try {
            inspector.open(0, '127.0.0.1', false);
        } catch (error) {
            return;
        }
        url = inspector.url();
    }
    if (!url) {
        return;
    }

    // The window's title: the program as it was started and its arguments, a script inside the
    // working folder by its relative path.
    const shown = (arg) => {
        if (path.isAbsolute(arg)) {
            const relative = path.relative(process.cwd(), arg);
            if (relative && !relative.startsWith('..') && !path.isAbsolute(relative)) {
                return relative;
            }
        }
        return arg;
    };
    const words = [path.basename(process.argv0 || process.execPath)];
    for (const arg of process.argv.slice(1)) {
        words.push(shown(arg));
    }
    // Bounded so that the report stays one atomic write to the channel, whatever the arguments.
    const title = words.join(' ').slice(0, 300);
    const report = JSON.stringify({ secret: secret, pid: process.pid, url: url, title: title }) + '\n';

    // Synchronous, so that nothing of the program runs before the report is out. Non-blocking: a
    // channel nobody reads any more (the launcher is gone) must not hang the process.
    // A Windows pipe serves one client at a time: a process that finds it busy, or between two
    // instances, tries again for a while.
    const attempts = process.platform === 'win32' ? 100 : 1;
    const pause = new Int32Array(new SharedArrayBuffer(4));
    const tell = (line) => {
        for (let attempt = 0; attempt < attempts; attempt++) {
            try {
                const fd = fs.openSync(channel, fs.constants.O_WRONLY | (fs.constants.O_NONBLOCK || 0));
                try {
                    return fs.writeSync(fd, line) === Buffer.byteLength(line);
                } finally {
                    fs.closeSync(fd);
                }
            } catch (error) {
                if (attempt + 1 < attempts && (error.code === 'EBUSY' || error.code === 'ENOENT')) {
                    Atomics.wait(pause, 0, 0, 20);
                } else {
                    return false;
                }
            }
        }
        return false;
    };

    // At its end node waits for its debuggers to go away: the launcher is told, and closes the
    // process's window. Set before the report: between the report and the wait below nothing may
    // take time, since a debugger that attached in between would find the process not yet waiting.
    const exiting = JSON.stringify({ secret: secret, pid: process.pid, exiting: true }) + '\n';
    process.on('exit', () => {
        tell(exiting);
    });

    if (!tell(report)) {
        return;
    }
    if (env.QUELBY_INSPECTOR_LAUNCH_HOLD === '1') {
        inspector.waitForDebugger();
    }
})();
