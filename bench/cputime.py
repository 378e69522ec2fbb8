#!/usr/bin/python3
"""Runs commands in turn, round after round, and prints for each the fastest
CPU time (user + system) and the fastest wall time of all its runs.

On a shared machine another process can take the core at any moment, which
stretches wall time; the CPU time a process is charged for its own work moves
far less. Alternating the commands spreads any slow period over all of them,
and the fastest run is the one least disturbed.

Usage: cputime.py ROUNDS NAME COMMAND [NAME COMMAND ...]
A COMMAND may begin with VAR=value words, set in its environment.
Prints one line per command: NAME <tab> cpu seconds <tab> wall seconds.
"""
import os
import shlex
import subprocess
import sys
import time

rounds = int(sys.argv[1])
pairs = list(zip(sys.argv[2::2], sys.argv[3::2]))
best = {name: (float("inf"), float("inf")) for name, _ in pairs}
for _ in range(rounds):
    for name, command in pairs:
        words = shlex.split(command)
        env = dict(os.environ)
        while words and "=" in words[0] and not words[0].startswith("/"):
            key, value = words.pop(0).split("=", 1)
            env[key] = value
        start = time.perf_counter()
        proc = subprocess.Popen(words, stdout=subprocess.DEVNULL, env=env)
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.perf_counter() - start
        if status != 0:
            sys.exit(f"{name}: {command} failed with status {status}")
        cpu = usage.ru_utime + usage.ru_stime
        best[name] = (min(best[name][0], cpu), min(best[name][1], wall))
for name, _ in pairs:
    print(f"{name}\t{best[name][0]:.4f}\t{best[name][1]:.4f}")
