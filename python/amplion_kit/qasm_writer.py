"""Writes a Circuit as OpenQASM 2.0 that reads back to an equal circuit.

Angles are written exactly: Python's shortest repr of the double, with ".0" put in where the
language's real numbers need a decimal point (1e-05 becomes 1.0e-05).
"""
from __future__ import annotations

import math
import re
from .circuit import BARRIER, MEASURE, RESET, Circuit, clbit_of
from .parameters import ParameterExpression, Value
from .qasm_reader import KEYWORDS

_NAME = re.compile(r"[a-z][A-Za-z0-9_]*\Z")


def real(value: Value) -> str:
    """An angle as OpenQASM text that reads back to the same double.

    >>> real(1e-05), real(-0.5), real(3.0)
    ('1.0e-05', '-0.5', '3.0')
    """
    if isinstance(value, ParameterExpression):
        raise ValueError("cannot write unbound parameters %s as OpenQASM; bind them first"
                         % ", ".join(sorted(value.parameters)))
    value = float(value)
    if not math.isfinite(value):
        raise ValueError("cannot write the angle %r as OpenQASM, which has no infinities or "
                         "NaN" % value)
    text = repr(value)
    if "." not in text:
        mantissa, _, exponent = text.partition("e")
        text = mantissa + ".0e" + exponent
    return text


def to_qasm(circuit: Circuit) -> str:
    """The circuit as OpenQASM 2.0 text, one statement a line.

    >>> print(to_qasm(Circuit(1, 1).h(0).measure(0, 0)), end="")
    OPENQASM 2.0;
    include "qelib1.inc";
    qreg q[1];
    creg c[1];
    h q[0];
    measure q[0] -> c[0];
    """
    lines = ['OPENQASM 2.0;', 'include "qelib1.inc";']
    for kind, registers in [("qreg", circuit.qregs), ("creg", circuit.cregs)]:
        for name, size in registers:
            if not _NAME.match(name) or name in KEYWORDS:
                raise ValueError("cannot write register %r as OpenQASM: a name starts with a "
                                 "lower-case letter and is not a keyword" % name)
            lines.append("%s %s[%d];" % (kind, name, size))
    qubit = ["%s[%d]" % (name, i) for name, size in circuit.qregs for i in range(size)]
    clbit = ["%s[%d]" % (name, i) for name, size in circuit.cregs for i in range(size)]
    for op in circuit:
        args = ",".join(qubit[q] for q in op.qubits)
        if op.name == MEASURE:
            lines.append("measure %s -> %s;" % (args, clbit[clbit_of(op)]))
        elif op.name == BARRIER or op.name == RESET or not op.params:
            lines.append("%s %s;" % (op.name, args))
        else:
            lines.append("%s(%s) %s;" % (op.name, ",".join(real(p) for p in op.params), args))
    return "\n".join(lines) + "\n"
