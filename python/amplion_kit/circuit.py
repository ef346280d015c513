"""Circuit: a plain, picklable list of operations kept as written (u3, crz, ...), expanded into
amplion's own gates only when it runs.

Qubit q is bit q of the basis-state index, as in amplion. Measurements come last: a qubit that has
been measured takes no further gate, so sampling the final state once per shot is exact.
"""
from __future__ import annotations

import math
import operator
from typing import (TYPE_CHECKING, Any, Dict, Iterator, List, Mapping, NamedTuple, Optional,
                    Sequence, SupportsFloat, SupportsIndex, Tuple, Union, cast, overload)

import amplion

from .gates import GATES, CoreCall
from .parameters import Parameter, ParameterExpression, Value

if TYPE_CHECKING:
    import numpy

Index = SupportsIndex
Angle = Union[float, ParameterExpression]
Register = Tuple[str, int]
_Angles = Tuple[float, ...]

MEASURE, BARRIER, RESET = "measure", "barrier", "reset"


class Operation(NamedTuple):
    """One operation as written: a gate of GATES, "measure" (params holds the classical bit),
    "barrier" or "reset"."""

    name: str
    qubits: Tuple[int, ...]
    params: Tuple[Value, ...] = ()


def clbit_of(op: Operation) -> int:
    """The classical bit a "measure" operation writes."""
    return cast(int, op.params[0])


def _index(value: Index, what: str) -> int:
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError("%s must be an integer, not %s" % (what, type(value).__name__)) from None


def _angle(value: object, gate: str) -> Value:
    if isinstance(value, ParameterExpression):
        return value
    if isinstance(value, SupportsFloat):
        return float(value)
    raise TypeError("%s takes numbers or parameters as angles, not %s"
                    % (gate, type(value).__name__))


def _registers(registers: Optional[Sequence[Register]], default: str, size: int,
               what: str) -> Tuple[Register, ...]:
    if registers is None:
        return ((default, size),) if size else ()
    found = tuple((str(name), _index(length, what + " size")) for name, length in registers)
    if any(length < 1 for _, length in found) or sum(n for _, n in found) != size:
        raise ValueError("the %s sizes must be positive and add up to %d, got %s"
                         % (what, size, [n for _, n in found]))
    return found


class Circuit:
    """Operations on `n_qubits` qubits, with `n_clbits` classical bits for final measurements.

    >>> bell = Circuit(2, 2).h(0).cx(0, 1).measure(0, 0).measure(1, 1)
    >>> len(bell), bell.run(100, seed=1).keys() <= {"00", "11"}
    (4, True)

    Gate methods take amplion's argument names (cx(control, target); cx(c=, t=) as on
    amplion.QuantumCircuit works too) and return the circuit. `qregs` and `cregs` name the
    registers that OpenQASM text shows, in order, their sizes adding up to the counts.
    """

    def __init__(self, n_qubits: Index, n_clbits: Index = 0, *,
                 qregs: Optional[Sequence[Register]] = None,
                 cregs: Optional[Sequence[Register]] = None) -> None:
        self._n_qubits = _index(n_qubits, "n_qubits")
        self._n_clbits = _index(n_clbits, "n_clbits")
        if self._n_qubits < 0 or self._n_clbits < 0:
            raise ValueError("n_qubits and n_clbits must not be negative")
        self._qregs = _registers(qregs, "q", self._n_qubits, "qreg")
        self._cregs = _registers(cregs, "c", self._n_clbits, "creg")
        names = [name for name, _ in self._qregs + self._cregs]
        if len(set(names)) != len(names):
            raise ValueError("register names must differ, got %s" % names)
        self._ops: List[Operation] = []
        self._measured: Dict[int, int] = {}  # qubit -> clbit of its last measurement
        self._used: set[int] = set()  # qubits a gate or measurement has touched
        self._symbolic: List[int] = []  # positions of operations with unbound parameters

    @classmethod
    def _from_operations(cls, n_qubits: int, n_clbits: int, qregs: Sequence[Register],
                         cregs: Sequence[Register], ops: List[Operation],
                         numeric: Optional[Tuple[set[int], Dict[int, int]]] = None) -> Circuit:
        """A circuit around operations that are already valid. `numeric`, when the operations
        hold no parameters, gives the qubits they use and the last clbit each qubit is measured
        into, as the QASM reader finds them."""
        circuit = cls(n_qubits, n_clbits, qregs=qregs, cregs=cregs)
        circuit._ops = ops
        if numeric is not None:
            circuit._used, circuit._measured = numeric
        else:
            for position, op in enumerate(ops):
                circuit._note(position, op)
        return circuit

    def _note(self, position: int, op: Operation) -> None:
        if op.name == MEASURE:
            self._measured[op.qubits[0]] = clbit_of(op)
        elif op.name != BARRIER and op.name != RESET:
            if any(isinstance(p, ParameterExpression) for p in op.params):
                self._symbolic.append(position)
        if op.name != BARRIER and op.name != RESET:
            self._used.update(op.qubits)

    # -- building -----------------------------------------------------------------------------
    @property
    def n_qubits(self) -> int:
        return self._n_qubits

    @property
    def n_clbits(self) -> int:
        return self._n_clbits

    @property
    def qregs(self) -> Tuple[Register, ...]:
        return self._qregs

    @property
    def cregs(self) -> Tuple[Register, ...]:
        return self._cregs

    def _qubits(self, what: str, qubits: Sequence[Index]) -> Tuple[int, ...]:
        found = tuple(_index(q, "a qubit") for q in qubits)
        for q in found:
            if not 0 <= q < self._n_qubits:
                raise IndexError("%s: qubit %d out of range for %d qubits"
                                 % (what, q, self._n_qubits))
        if len(set(found)) != len(found):
            raise ValueError("%s needs distinct qubits, got %s" % (what, list(found)))
        return found

    def _add(self, op: Operation) -> Circuit:
        if op.name != BARRIER:
            for q in op.qubits:
                if q in self._measured and op.name != MEASURE:
                    raise ValueError("%s on qubit %d after its measurement: measurements must "
                                     "come last" % (op.name, q))
        self._ops.append(op)
        self._note(len(self._ops) - 1, op)
        return self

    def append(self, name: str, qubits: Sequence[Index], params: Sequence[Angle] = ()) -> Circuit:
        """Appends gate `name` of GATES on `qubits` with angles `params` (numbers or parameters).

        >>> Circuit(1).append("u3", [0], [0.1, 0.2, 0.3])
        Circuit(1).u3(0, 0.1, 0.2, 0.3)
        """
        gate = GATES.get(name)
        if gate is None:
            raise ValueError("unknown gate %r" % name)
        if len(qubits) != len(gate.qubits) or len(params) != len(gate.params):
            raise TypeError("%s takes %d qubits and %d angles, got %d and %d" % (
                name, len(gate.qubits), len(gate.params), len(qubits), len(params)))
        return self._add(Operation(name, self._qubits(name, qubits),
                                   tuple(_angle(p, name) for p in params)))

    def measure(self, qubit: Index, clbit: Index) -> Circuit:
        """Measures `qubit` into `clbit` at the end; no gate may act on the qubit afterwards."""
        (q,) = self._qubits(MEASURE, [qubit])
        c = _index(clbit, "clbit")
        if not 0 <= c < self._n_clbits:
            raise IndexError("measure: clbit %d out of range for %d classical bits"
                             % (c, self._n_clbits))
        return self._add(Operation(MEASURE, (q,), (c,)))

    def barrier(self, *qubits: Index) -> Circuit:
        """A barrier on `qubits` (all qubits when none are given); it changes no state."""
        found = self._qubits(BARRIER, qubits or range(self._n_qubits))
        if not found:
            raise ValueError("barrier needs at least one qubit")
        return self._add(Operation(BARRIER, found))

    def reset(self, qubit: Index) -> Circuit:
        """Resets a qubit that no gate or measurement has touched yet, which leaves it at 0."""
        (q,) = self._qubits(RESET, [qubit])
        if q in self._used:
            raise ValueError("reset of qubit %d after it was used: only fresh qubits can be "
                             "reset" % q)
        return self._add(Operation(RESET, (q,)))

    def copy(self) -> Circuit:
        return Circuit._from_operations(self._n_qubits, self._n_clbits, self._qregs,
                                        self._cregs, list(self._ops))

    def compose(self, other: Circuit, qubits: Optional[Sequence[Index]] = None,
                clbits: Optional[Sequence[Index]] = None) -> Circuit:
        """A new circuit: this one followed by `other`, whose qubit i lands on qubits[i] and
        clbit j on clbits[j] (by default the same numbers)."""
        qmap = self._qubits("compose", range(other.n_qubits) if qubits is None else qubits)
        cmap = tuple(_index(c, "clbit") for c in (range(other.n_clbits) if clbits is None
                                                   else clbits))
        if len(qmap) != other.n_qubits or len(cmap) != other.n_clbits:
            raise ValueError("compose maps %d qubits and %d clbits, the circuit has %d and %d"
                             % (len(qmap), len(cmap), other.n_qubits, other.n_clbits))
        result = self.copy()
        for op in other:
            mapped = [qmap[q] for q in op.qubits]
            if op.name == MEASURE:
                result.measure(mapped[0], cmap[clbit_of(op)])
            elif op.name == BARRIER:
                result.barrier(*mapped)
            elif op.name == RESET:
                result.reset(mapped[0])
            else:
                result.append(op.name, mapped, op.params)
        return result

    # -- inspection ---------------------------------------------------------------------------
    def __len__(self) -> int:
        return len(self._ops)

    def __iter__(self) -> Iterator[Operation]:
        return iter(self._ops)

    @overload
    def __getitem__(self, index: int) -> Operation: ...
    @overload
    def __getitem__(self, index: slice) -> List[Operation]: ...

    def __getitem__(self, index: Union[int, slice]) -> Union[Operation, List[Operation]]:
        return self._ops[index]

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Circuit):
            return NotImplemented
        return (self._n_qubits, self._n_clbits, self._qregs, self._cregs, self._ops) == (
            other._n_qubits, other._n_clbits, other._qregs, other._cregs, other._ops)

    def __repr__(self) -> str:
        head = "Circuit(%d" % self._n_qubits
        if self._n_clbits:
            head += ", %d" % self._n_clbits
        if self._qregs != _registers(None, "q", self._n_qubits, "qreg"):
            head += ", qregs=%r" % (list(self._qregs),)
        if self._cregs != _registers(None, "c", self._n_clbits, "creg"):
            head += ", cregs=%r" % (list(self._cregs),)
        parts = [head + ")"]
        shown = 12
        for op in self._ops[:shown]:
            args = ", ".join([str(q) for q in op.qubits] + [repr(p) for p in op.params])
            if op.name.islower():
                parts.append("%s(%s)" % (op.name, args))
            else:
                parts.append("append(%r, %r, %r)" % (op.name, list(op.qubits), list(op.params)))
        text = ".".join(parts)
        if len(self._ops) > shown:
            text += "  # and %d more operations" % (len(self._ops) - shown)
        return text

    # -- parameters ---------------------------------------------------------------------------
    @property
    def parameters(self) -> Tuple[Parameter, ...]:
        """The unbound parameters, sorted by name."""
        return tuple(Parameter(n) for n in sorted(self._parameter_names()))

    def _parameter_names(self) -> set[str]:
        names: set[str] = set()
        for position in self._symbolic:
            for p in self._ops[position].params:
                if isinstance(p, ParameterExpression):
                    names |= p.parameters
        return names

    def bind(self, values: Optional[Mapping[Union[str, Parameter], float]] = None, /,
             **kwargs: float) -> Circuit:
        """A copy with parameters replaced by numbers, given as a mapping (names or Parameters
        as keys) or as keywords; parameters left out stay symbolic.

        Only the operations that hold parameters are evaluated, so binding many values into
        one large circuit costs a list copy and those evaluations each time.
        """
        env: Dict[str, float] = {}
        for key, value in list((values or {}).items()) + list(kwargs.items()):
            name = key.name if isinstance(key, Parameter) else key
            if not isinstance(name, str):
                raise TypeError("bind takes parameter names or Parameters as keys, not %s"
                                % type(key).__name__)
            if isinstance(value, ParameterExpression) or not isinstance(value, SupportsFloat):
                raise TypeError("parameter %r must be bound to a number, not %s"
                                % (name, type(value).__name__))
            env[name] = float(value)
        unknown = sorted(set(env) - self._parameter_names())
        if unknown:
            raise ValueError("the circuit has no parameter %s" % ", ".join(map(repr, unknown)))
        result = self.copy()
        result._symbolic = []
        for position in self._symbolic:
            op = self._ops[position]
            params = tuple(p.bind(env) if isinstance(p, ParameterExpression) else p
                           for p in op.params)
            result._ops[position] = op._replace(params=params)
            if any(isinstance(p, ParameterExpression) for p in params):
                result._symbolic.append(position)
        return result

    # -- running ------------------------------------------------------------------------------
    def _program(self) -> Tuple[List[CoreCall], float]:
        """amplion's gate calls in order, and the global phase their expansions dropped."""
        if self._symbolic:
            raise ValueError("unbound parameters: %s; bind them first with bind()"
                             % ", ".join(sorted(self._parameter_names())))
        calls: List[CoreCall] = []
        phase = 0.0
        for op in self._ops:
            gate = GATES.get(op.name)
            if gate is not None:
                expansion, dropped = gate.expand(op.qubits, cast(_Angles, op.params))
                calls.extend(expansion)
                phase += dropped
        return calls, phase

    def _recorded(self, calls: List[CoreCall]) -> amplion.QuantumCircuit:
        recorder = amplion.QuantumCircuit(self._n_qubits)
        methods: Dict[str, Any] = {}
        for name, args in calls:
            method = methods.get(name)
            if method is None:
                method = methods[name] = getattr(recorder, name)
            method(*args)
        return recorder

    def to_amplion(self) -> amplion.QuantumCircuit:
        """An amplion.QuantumCircuit of the same gates: each of amplion's gates as it is, each
        other gate as its expansion. Measurements and the global phase are left out."""
        return self._recorded(self._program()[0])

    def apply(self, register: amplion.StateVecPy) -> None:
        """Applies the gates to `register`, which needs at least n_qubits qubits."""
        if not isinstance(register, amplion.StateVecPy):
            raise TypeError("apply takes an amplion.StateVecPy, not %s"
                            % type(register).__name__)
        if register.n_qubits < self._n_qubits:
            raise ValueError("the register has %d qubits, the circuit needs %d"
                             % (register.n_qubits, self._n_qubits))
        self.to_amplion().apply_gates(register)

    def statevector(self) -> numpy.ndarray[Any, numpy.dtype[numpy.complex128]]:
        """The state the operations define, as a NumPy complex128 array: amplion's amplitudes
        times e^(iφ) for the global phase φ that expansions dropped (untouched when φ is 0)."""
        import numpy  # first, so that its absence is an ImportError, not amplion's fault
        calls, phase = self._program()
        state = self._recorded(calls).statevector()
        if phase == 0.0:
            return state
        c, s = math.cos(phase), math.sin(phase)
        turned = numpy.empty_like(state)
        turned.real = state.real * c - state.imag * s
        turned.imag = state.real * s + state.imag * c
        return turned

    def run(self, shots: Index, seed: Optional[Index] = None) -> Dict[str, int]:
        """Seeded or unseeded counts, sampled as amplion.QuantumCircuit.run samples them.

        With measurements, keys hold every classical bit, clbit 0 rightmost and unmeasured bits
        0; without, every qubit, qubit 0 rightmost."""
        counts = self._recorded(self._program()[0]).run(shots, seed)
        if not self._measured:
            return counts
        source: Dict[int, int] = {}  # clbit -> the qubit measured into it last
        for op in self._ops:
            if op.name == MEASURE:
                source[clbit_of(op)] = op.qubits[0]
        n, m = self._n_qubits, self._n_clbits
        result: Dict[str, int] = {}
        for key, count in counts.items():
            bits = ["0"] * m
            for clbit, qubit in source.items():
                bits[m - 1 - clbit] = key[n - 1 - qubit]
            outcome = "".join(bits)
            result[outcome] = result.get(outcome, 0) + count
        return result

    def to_qasm(self) -> str:
        """OpenQASM 2.0 text that from_qasm reads back to an equal circuit."""
        from .qasm_writer import to_qasm
        return to_qasm(self)

    # -- gates --------------------------------------------------------------------------------
    def _controlled(self, name: str, control: Optional[Index], target: Optional[Index],
                    c: Optional[Index], t: Optional[Index],
                    params: Sequence[Optional[Angle]]) -> Circuit:
        pair: List[Index] = []
        for first, first_name, second, second_name in [(control, "control", c, "c"),
                                                        (target, "target", t, "t")]:
            if first is not None and second is None:
                pair.append(first)
            elif first is None and second is not None:
                pair.append(second)
            else:
                raise TypeError("%s() takes '%s' or '%s', exactly one of them"
                                % (name, first_name, second_name))
        angles: List[Angle] = []
        for param_name, value in zip(GATES[name].params, params):
            if value is None:
                raise TypeError("%s() missing required argument '%s'" % (name, param_name))
            angles.append(value)
        return self.append(name, pair, angles)

    def U(self, q: Index, theta: Angle, phi: Angle, lam: Angle) -> Circuit:
        """The language's own U(θ, φ, λ): the matrix of u3."""
        return self.append("U", [q], [theta, phi, lam])

    def CX(self, control: Index, target: Index) -> Circuit:
        """The language's own CX: the matrix of cx."""
        return self.append("CX", [control, target])

    def u3(self, q: Index, theta: Angle, phi: Angle, lam: Angle) -> Circuit:
        return self.append("u3", [q], [theta, phi, lam])

    def u2(self, q: Index, phi: Angle, lam: Angle) -> Circuit:
        return self.append("u2", [q], [phi, lam])

    def u1(self, q: Index, lam: Angle) -> Circuit:
        return self.append("u1", [q], [lam])

    def u(self, q: Index, theta: Angle, phi: Angle, lam: Angle) -> Circuit:
        return self.append("u", [q], [theta, phi, lam])

    def u0(self, q: Index, gamma: Angle) -> Circuit:
        return self.append("u0", [q], [gamma])

    def p(self, q: Index, theta: Angle) -> Circuit:
        return self.append("p", [q], [theta])

    def id(self, q: Index) -> Circuit:
        return self.append("id", [q])

    def rx(self, q: Index, theta: Angle) -> Circuit:
        return self.append("rx", [q], [theta])

    def ry(self, q: Index, theta: Angle) -> Circuit:
        return self.append("ry", [q], [theta])

    def rz(self, q: Index, theta: Angle) -> Circuit:
        return self.append("rz", [q], [theta])

    def x(self, q: Index) -> Circuit:
        return self.append("x", [q])

    def y(self, q: Index) -> Circuit:
        return self.append("y", [q])

    def z(self, q: Index) -> Circuit:
        return self.append("z", [q])

    def h(self, q: Index) -> Circuit:
        return self.append("h", [q])

    def s(self, q: Index) -> Circuit:
        return self.append("s", [q])

    def sdg(self, q: Index) -> Circuit:
        return self.append("sdg", [q])

    def t(self, q: Index) -> Circuit:
        return self.append("t", [q])

    def tdg(self, q: Index) -> Circuit:
        return self.append("tdg", [q])

    def sx(self, q: Index) -> Circuit:
        return self.append("sx", [q])

    def sxdg(self, q: Index) -> Circuit:
        return self.append("sxdg", [q])

    def cx(self, control: Optional[Index] = None, target: Optional[Index] = None, *,
           c: Optional[Index] = None, t: Optional[Index] = None) -> Circuit:
        return self._controlled("cx", control, target, c, t, ())

    def cy(self, control: Optional[Index] = None, target: Optional[Index] = None, *,
           c: Optional[Index] = None, t: Optional[Index] = None) -> Circuit:
        return self._controlled("cy", control, target, c, t, ())

    def cz(self, control: Optional[Index] = None, target: Optional[Index] = None, *,
           c: Optional[Index] = None, t: Optional[Index] = None) -> Circuit:
        return self._controlled("cz", control, target, c, t, ())

    def ch(self, control: Optional[Index] = None, target: Optional[Index] = None, *,
           c: Optional[Index] = None, t: Optional[Index] = None) -> Circuit:
        return self._controlled("ch", control, target, c, t, ())

    def csx(self, control: Optional[Index] = None, target: Optional[Index] = None, *,
            c: Optional[Index] = None, t: Optional[Index] = None) -> Circuit:
        return self._controlled("csx", control, target, c, t, ())

    def cp(self, control: Optional[Index] = None, target: Optional[Index] = None,
           theta: Optional[Angle] = None, *, c: Optional[Index] = None,
           t: Optional[Index] = None) -> Circuit:
        return self._controlled("cp", control, target, c, t, [theta])

    def cu1(self, control: Optional[Index] = None, target: Optional[Index] = None,
            lam: Optional[Angle] = None, *, c: Optional[Index] = None,
            t: Optional[Index] = None) -> Circuit:
        return self._controlled("cu1", control, target, c, t, [lam])

    def crx(self, control: Optional[Index] = None, target: Optional[Index] = None,
            theta: Optional[Angle] = None, *, c: Optional[Index] = None,
            t: Optional[Index] = None) -> Circuit:
        return self._controlled("crx", control, target, c, t, [theta])

    def cry(self, control: Optional[Index] = None, target: Optional[Index] = None,
            theta: Optional[Angle] = None, *, c: Optional[Index] = None,
            t: Optional[Index] = None) -> Circuit:
        return self._controlled("cry", control, target, c, t, [theta])

    def crz(self, control: Optional[Index] = None, target: Optional[Index] = None,
            theta: Optional[Angle] = None, *, c: Optional[Index] = None,
            t: Optional[Index] = None) -> Circuit:
        return self._controlled("crz", control, target, c, t, [theta])

    def cu3(self, control: Optional[Index] = None, target: Optional[Index] = None,
            theta: Optional[Angle] = None, phi: Optional[Angle] = None,
            lam: Optional[Angle] = None, *, c: Optional[Index] = None,
            t: Optional[Index] = None) -> Circuit:
        return self._controlled("cu3", control, target, c, t, [theta, phi, lam])

    def cu(self, control: Optional[Index] = None, target: Optional[Index] = None,
           theta: Optional[Angle] = None, phi: Optional[Angle] = None,
           lam: Optional[Angle] = None, gamma: Optional[Angle] = None, *,
           c: Optional[Index] = None, t: Optional[Index] = None) -> Circuit:
        return self._controlled("cu", control, target, c, t, [theta, phi, lam, gamma])

    def swap(self, q1: Index, q2: Index) -> Circuit:
        return self.append("swap", [q1, q2])

    def rxx(self, q1: Index, q2: Index, theta: Angle) -> Circuit:
        return self.append("rxx", [q1, q2], [theta])

    def rzz(self, q1: Index, q2: Index, theta: Angle) -> Circuit:
        return self.append("rzz", [q1, q2], [theta])

    def ccx(self, c1: Index, c2: Index, t: Index) -> Circuit:
        return self.append("ccx", [c1, c2, t])

    def cswap(self, c: Index, t1: Index, t2: Index) -> Circuit:
        return self.append("cswap", [c, t1, t2])

    def rccx(self, c1: Index, c2: Index, t: Index) -> Circuit:
        return self.append("rccx", [c1, c2, t])

    def rc3x(self, c1: Index, c2: Index, c3: Index, t: Index) -> Circuit:
        return self.append("rc3x", [c1, c2, c3, t])

    def c3x(self, c1: Index, c2: Index, c3: Index, t: Index) -> Circuit:
        return self.append("c3x", [c1, c2, c3, t])

    def c3sqrtx(self, c1: Index, c2: Index, c3: Index, t: Index) -> Circuit:
        return self.append("c3sqrtx", [c1, c2, c3, t])

    def c4x(self, c1: Index, c2: Index, c3: Index, c4: Index, t: Index) -> Circuit:
        return self.append("c4x", [c1, c2, c3, c4, t])
