#!/usr/bin/env bash
# Time from launching `iamlink` to its window's first frame on screen, and the process's
# peak resident memory. Goals: window within 300 ms, under 80 MB resident.
#
# The window counts as shown when Qt flushes the first painted frame of MainWindow to the
# platform (the qt.widgets.painting log), read off the monotonic clock that both Qt's
# "%{time boot}" and Python's time.monotonic() use. Without a display it runs on the
# offscreen platform. The process is then asked to quit and its peak RSS read from wait4().
set -euo pipefail
build=${1:-build}
runs=${RUNS:-10}
app=$(cd "$build" && pwd)/iamlink
[ -x "$app" ] || { echo "window-startup: $app not built" >&2; exit 1; }
# A runtime folder of its own, so that each run is a first instance: a window already open in
# this session would take the launch over.
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR=$runtime
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
fi

python3 - "$app" "$runs" <<'EOF'
import os, re, signal, statistics, subprocess, sys, time

app, runs = sys.argv[1], int(sys.argv[2])
env = dict(os.environ,
           QT_LOGGING_RULES='qt.widgets.painting=true',
           QT_MESSAGE_PATTERN='%{time boot} %{category} %{message}')
flush = re.compile(r'^\s*(\d+\.\d+) qt\.widgets\.painting Flushing QRegion.* of MainWindow')

def one_run():
    launched = time.monotonic()
    process = subprocess.Popen([app], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, text=True)
    shown = None
    for line in process.stderr:
        match = flush.match(line)
        if match:
            shown = float(match.group(1))
            break
    # Let it settle in its event loop, then ask it to quit.
    time.sleep(0.3)
    process.send_signal(signal.SIGTERM)
    process.stderr.close()
    _, _, usage = os.wait4(process.pid, 0)
    process.returncode = 0
    if shown is None:
        sys.exit('window-startup: the window never showed its first frame')
    return (shown - launched) * 1000, usage.ru_maxrss / 1024

one_run()  # warm the file cache once
results = [one_run() for _ in range(runs)]
times = [t for t, _ in results]
rss = max(m for _, m in results)
platform = os.environ.get('QT_QPA_PLATFORM', 'default')
median = statistics.median(times)
print(f"time to window ({platform})   median {median:6.1f} ms   max {max(times):6.1f} ms   "
      f"over {runs} runs   goal <= 300 ms: {'met' if max(times) <= 300 else 'MISSED'}")
print(f"peak resident memory          {rss:6.1f} MB   goal < 80 MB: {'met' if rss < 80 else 'MISSED'}")
EOF
