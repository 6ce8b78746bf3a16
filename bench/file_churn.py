#!/usr/bin/env python3
# Usage: bench/file_churn.py DIR JOBS_PER_SECOND SECONDS
# The file work of ~150 jobs a second on the job file system, without a TSE:
# a client writes each job beside and renames it in, an answer is written,
# the job is moved aside and deleted, the answer read and deleted; one
# syncfs every 50 ms.
import os, sys, time, ctypes
libc = ctypes.CDLL(None, use_errno=True)
d = sys.argv[1]; rate = float(sys.argv[2]); secs = float(sys.argv[3])
dfd = os.open(d, os.O_RDONLY | os.O_DIRECTORY)
job = b"CMD=BON\r\nKASID=BENCH-KASSE-01\r\n" + b"x" * 70
ans = b"y" * 320
t0 = time.monotonic(); n = 0; last_sync = t0
while time.monotonic() - t0 < secs:
    name = f"{d}/J{n:06d}"
    with open(name + ".tmp", "wb") as f: f.write(job)
    os.rename(name + ".tmp", name + ".TSE")
    with open(name + ".TSE", "rb") as f: f.read()
    with open(name + ".SIG", "wb") as f: f.write(ans)
    now = time.monotonic()
    if now - last_sync >= 0.05:
        libc.syncfs(dfd); last_sync = now
    os.rename(name + ".TSE", f"{d}/.del.J{n:06d}")
    os.unlink(f"{d}/.del.J{n:06d}")
    with open(name + ".SIG", "rb") as f: f.read()
    os.unlink(name + ".SIG")
    n += 1
    sleep = t0 + n / rate - time.monotonic()
    if sleep > 0: time.sleep(sleep)
print(f"churn: {n} jobs in {time.monotonic()-t0:.1f} s", file=sys.stderr)
