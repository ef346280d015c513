"""The command line: python -m amplion_kit run FILE.qasm --shots N [--seed S] [--statevector]
[--json]. FILE may be - for standard input.

Counts print one outcome a line, sorted; the state one amplitude a line as its basis state and the
shortest reprs of its real and imaginary parts. A QASM error prints one line, file:line:column:
message, and exits with status 2.
"""
from __future__ import annotations

import argparse
import json
import sys
from typing import Dict, List, Optional, TextIO

from .circuit import Circuit
from .qasm_reader import QasmError, from_qasm, load


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="python -m amplion_kit",
                                     description="Runs OpenQASM 2.0 circuits on amplion.")
    commands = parser.add_subparsers(dest="command", required=True)
    run = commands.add_parser("run", help="run a circuit and print its counts or its state")
    run.add_argument("file", metavar="FILE.qasm", help="the circuit, or - for standard input")
    run.add_argument("--shots", type=int, metavar="N", help="samples to draw")
    run.add_argument("--seed", type=int, metavar="S", help="seed for reproducible counts")
    run.add_argument("--statevector", action="store_true",
                     help="print the state the circuit defines (needs NumPy)")
    run.add_argument("--json", action="store_true", help="print one JSON object")
    return parser


def _read(name: str, stdin: TextIO) -> Circuit:
    if name == "-":
        return from_qasm(stdin.read(), "<stdin>")
    return load(name)


def main(argv: Optional[List[str]] = None, stdin: TextIO = sys.stdin) -> int:
    parser = _parser()
    args = parser.parse_args(argv)
    if args.shots is None and not args.statevector:
        parser.error("run needs --shots N, --statevector or both")
    if args.shots is not None and args.shots < 0 or args.seed is not None and not (
            0 <= args.seed < 2 ** 64):
        parser.error("--shots must not be negative and --seed must be from 0 to 2**64 - 1")
    try:
        circuit = _read(args.file, stdin)
        state = [] if not args.statevector else circuit.statevector().tolist()
        counts = {} if args.shots is None else circuit.run(args.shots, args.seed)
    except QasmError as error:
        print(error, file=sys.stderr)
        return 2
    except (OSError, ValueError, ImportError) as error:
        print("%s: error: %s" % (parser.prog, error), file=sys.stderr)
        return 1
    pairs = [[a.real, a.imag] for a in state]
    counts = dict(sorted(counts.items()))
    if args.json:
        result: Dict[str, object] = {}
        if args.statevector:
            result["statevector"] = pairs
        if args.shots is not None:
            result["counts"] = counts
        print(json.dumps(result))
        return 0
    for index, (re, im) in enumerate(pairs):
        print("%s %r %r" % (format(index, "0%db" % circuit.n_qubits), re, im))
    for outcome, count in counts.items():
        print(outcome, count)
    return 0
