#!/usr/bin/env python3
"""Process CPU of a --fast run, per window of ten scene steps.

The program prints "step N of M" every ten steps when its error output is a
terminal, so the run gets a pseudo-terminal here, and at each such line the
process's user + system time is read from /proc. Works for any build of the
program, old ones included, since it needs nothing from the program itself.

usage: step_cpu.py OUT.tsv -- PROGRAM ARGS...
Writes one line per window: last step, CPU milliseconds over the window,
and prints the total CPU seconds of the run (children included) on stdout.
"""
import os
import pty
import re
import resource
import sys


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) / ticks  # utime, stime


def main():
    out_path = sys.argv[1]
    command = sys.argv[sys.argv.index("--") + 1:]
    master, slave = pty.openpty()
    pid = os.fork()
    if pid == 0:
        os.close(master)
        os.dup2(slave, 2)
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, 1)
        os.execvp(command[0], command)
    os.close(slave)
    windows = []
    last_step, last_cpu = 0, 0.0
    pending = b""
    pattern = re.compile(rb"step (\d+) of \d+")
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:
            break
        if not chunk:
            break
        pending += chunk
        matches = list(pattern.finditer(pending))
        if matches:
            step = int(matches[-1].group(1))
            try:
                cpu = cpu_seconds(pid)
            except OSError:
                break
            if step > last_step:
                windows.append((step, (cpu - last_cpu) * 1000.0 / (step - last_step)))
                last_step, last_cpu = step, cpu
            pending = pending[matches[-1].end():]
        if len(pending) > 8192:
            pending = pending[-256:]
    _, status = os.waitpid(pid, 0)
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    with open(out_path, "w") as f:
        for step, ms in windows:
            f.write(f"{step}\t{ms:.2f}\n")
    print(f"{usage.ru_utime + usage.ru_stime:.2f}")
    sys.exit(os.waitstatus_to_exitcode(status))


if __name__ == "__main__":
    main()
