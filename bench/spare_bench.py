"""What the spare vector holds and what it costs when the kernel has taken it back.

    PYTHONPATH=build/release/python /usr/bin/python3 bench/spare_bench.py [--qubits 26]

Builds one register, applies a copying gate, and prints the resident size (VmRSS) after it: the
register plus the spare. Then it has the kernel reclaim the spare with MADV_PAGEOUT on the
mappings holding lazily freed pages, which discards them as memory pressure would, prints the
resident size again, and times the next copying gate, which finds its pages anew, against one on
an intact spare. Medians over several rounds, with the load average.
"""

import argparse
import ctypes
import os
import statistics
import time

import amplion

MADV_PAGEOUT = 21
LIBC = ctypes.CDLL(None, use_errno=True)
LIBC.madvise.argtypes = (ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int)


def rss_mib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    raise RuntimeError("no VmRSS")


def page_out():
    """MADV_PAGEOUT on every mapping with lazily freed pages (smaps' LazyFree), the spare's. The
    register's own pages are left alone: without swap the kernel would split its huge pages
    trying to reclaim them."""
    spans, start, end = [], None, None
    with open("/proc/self/smaps") as smaps:
        for line in smaps:
            head = line.split()[0]
            if "-" in head and not head.endswith(":"):
                start, end = (int(x, 16) for x in head.split("-"))
            elif head == "LazyFree:" and int(line.split()[1]) > 0:
                spans.append((start, end))
    for start, end in spans:
        if LIBC.madvise(start, end - start, MADV_PAGEOUT) != 0:
            raise OSError(ctypes.get_errno(), "madvise(MADV_PAGEOUT)")


def timed(call):
    start = time.perf_counter()
    call()
    return (time.perf_counter() - start) * 1e3


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--qubits", type=int, default=26)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    vector = 16 << args.qubits
    sv = amplion.StateVecPy(args.qubits, seed=1)
    print(f"{args.qubits} qubits, vector {vector >> 20} MiB, load average "
          f"{os.getloadavg()[0]:.1f}")
    print(f"resident after construction:         {rss_mib():8.0f} MiB")
    sv.h(0)
    print(f"resident after one copying gate:     {rss_mib():8.0f} MiB")
    page_out()
    print(f"resident after the spare is reclaimed: {rss_mib():6.0f} MiB")
    reclaimed, intact = [], []
    for q in range(args.rounds):
        page_out()
        reclaimed.append(timed(lambda: sv.h(q % args.qubits)))
        intact.append(timed(lambda: sv.h(q % args.qubits)))
    print(f"resident after the last gate:        {rss_mib():8.0f} MiB")
    print(f"h on a reclaimed spare: {statistics.median(reclaimed):8.1f} ms (median of "
          f"{args.rounds})")
    print(f"h on an intact spare:   {statistics.median(intact):8.1f} ms")


if __name__ == "__main__":
    main()
