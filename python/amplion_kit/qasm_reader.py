"""Reads OpenQASM 2.0 into a Circuit: one recursive-descent pass over the text with a position.

    program     = "OPENQASM" real ";" { statement }
    statement   = include | qreg | creg | gate_decl | opaque | measure | reset | barrier | if
                | gate_call
    include     = "include" string ";"
    qreg        = "qreg" id "[" int "]" ";"
    creg        = "creg" id "[" int "]" ";"
    gate_decl   = "gate" id [ "(" [ id_list ] ")" ] id_list "{" { body_op } "}"
    body_op     = "barrier" id_list ";" | callee [ "(" [ exp_list ] ")" ] id_list ";"
    opaque      = "opaque" id [ "(" [ id_list ] ")" ] id_list ";"          (refused)
    measure     = "measure" argument "->" argument ";"
    reset       = "reset" argument ";"                         (refused unless the qubit is fresh)
    barrier     = "barrier" arg_list ";"
    if          = "if" "(" id "==" int ")" statement                         (refused)
    gate_call   = callee [ "(" [ exp_list ] ")" ] arg_list ";"
    callee      = "U" | "CX" | id
    arg_list    = argument { "," argument }
    argument    = id [ "[" int "]" ]
    id_list     = id { "," id }
    exp_list    = exp { "," exp }
    exp         = term { ( "+" | "-" ) term }
    term        = unary { ( "*" | "/" ) unary }
    unary       = "-" unary | power
    power       = atom [ "^" unary ]
    atom        = real | int | "pi" | id | "(" exp ")" | function "(" exp ")"
    function    = "sin" | "cos" | "tan" | "exp" | "ln" | "sqrt"
    id          = [a-z][A-Za-z0-9_]*      real = ( digits "." [digits] | "." digits ) [ exponent ]

Comments run from // to the end of the line. include "qelib1.inc" is built in; other files are
read relative to the including file. Registers are laid out in declaration order: the first qreg's
q[0] is qubit 0. A call of a gate defined by `gate` is kept as its body's operations.
"""
from __future__ import annotations

import functools
import math
import operator
import os
import re
from typing import (Any, Callable, Dict, List, NamedTuple, Optional, Sequence, Set, Tuple, Union,
                    cast)

from .circuit import Circuit, Operation
from .gates import GATES, Gate

# The tokenizer: white space and comments, then one token. A real without a decimal point (1e-05)
# is read as one token so that the parser can say what it needs. At the end of the text the token
# is empty; a trailing comment cannot be split, since the empty match is tried first.
_TOKEN = re.compile(r"""
    (?:\s|//[^\n]*)*
    ( (?:[0-9]+\.[0-9]*|\.[0-9]+)(?:[eE][-+]?[0-9]+)?
    | [0-9]+(?:[eE][-+]?[0-9]+)?
    | [A-Za-z_][A-Za-z0-9_]*
    | "[^"\n]*"
    | ->|==|[-+*/^()\[\]{},;]
    | \Z
    | \S
    )""", re.VERBOSE)

_FUNCTIONS: Dict[str, Callable[[float], float]] = {
    "sin": math.sin, "cos": math.cos, "tan": math.tan, "exp": math.exp, "ln": math.log,
    "sqrt": math.sqrt}
_BINARY: Dict[str, Callable[[float, float], float]] = {
    "+": operator.add, "-": operator.sub, "*": operator.mul, "/": operator.truediv,
    "^": math.pow}
KEYWORDS = {"OPENQASM", "include", "qreg", "creg", "gate", "opaque", "measure", "reset",
            "barrier", "if", "pi", "U", "CX", *_FUNCTIONS}
# Limits that keep the reader's recursion, and the evaluation of a gate body's expressions, well
# inside Python's recursion limit.
_MAX_INCLUDE_DEPTH = 32
_MAX_NESTING = 100  # brackets, unary minus and powers within one expression
_MAX_TREE_DEPTH = 200  # operators between a gate parameter and the value of its expression

# An expression: a float once its value is known, else a tree of tuples (operator, token number,
# depth, operands...): ("id", token, 1, name), ("neg", token, depth, node), (function, token,
# depth, node) or (binary operator, token, depth, left, right).
Node = Union[float, Tuple[Any, ...]]


class QasmError(ValueError):
    """A syntax or semantic error in OpenQASM text: `file`, `line` and `column` (from 1) say
    where, `expected` what would have been accepted there; str() is "file:line:column: message".
    """

    def __init__(self, message: str, file: str, line: int, column: int, expected: str) -> None:
        super().__init__("%s:%d:%d: %s" % (file, line, column, message))
        self.message = message
        self.file = file
        self.line = line
        self.column = column
        self.expected = expected

    def __reduce__(self) -> Tuple[object, ...]:
        return (QasmError, (self.message, self.file, self.line, self.column, self.expected))


# Operation(*fields) without the keyword handling of a named tuple's __new__.
_Angles = Tuple[float, ...]
_operation = cast(Callable[[Tuple[str, Tuple[int, ...], _Angles]], Operation],
                  functools.partial(tuple.__new__, Operation))


class _Fault(Exception):
    """An arithmetic error at `pos` while evaluating an expression."""

    def __init__(self, pos: int, message: str) -> None:
        super().__init__(message)
        self.pos = pos
        self.message = message


def _calculate(op: str, args: Sequence[float], pos: int) -> float:
    try:
        if op == "neg":
            return -args[0]
        function = _FUNCTIONS.get(op)
        if function is not None:
            return function(args[0])
        return _BINARY[op](args[0], args[1])
    except ZeroDivisionError:
        raise _Fault(pos, "division by zero") from None
    except (OverflowError, ValueError) as error:
        raise _Fault(pos, "%s in %s" % (error, "'%s'" % op if op in _BINARY else op + "()")) \
            from None


def _evaluate(node: Node, env: Dict[str, float]) -> float:
    if type(node) is float:
        return node
    node = cast(Tuple[Any, ...], node)
    if node[0] == "id":
        return env[node[3]]
    return _calculate(node[0], [_evaluate(n, env) for n in node[3:]], node[1])


class _UserGate(NamedTuple):
    name: str
    params: Tuple[str, ...]
    qubits: Tuple[str, ...]
    # callee (None for a barrier), its argument expressions, indices into `qubits`, position
    body: List[Tuple[Union[Gate, "_UserGate", None], List[Node], Tuple[int, ...], int]]
    source: "_Parser"


class _Program:
    """What the statements of a file and its includes build together."""

    def __init__(self) -> None:
        self.qregs: Dict[str, Tuple[int, int]] = {}  # name -> (first qubit, size)
        self.cregs: Dict[str, Tuple[int, int]] = {}
        self.n_qubits = 0
        self.n_clbits = 0
        self.gates: Dict[str, Union[Gate, _UserGate]] = {"U": GATES["U"], "CX": GATES["CX"]}
        self.qelib1 = False
        self.ops: List[Operation] = []
        self.used: Set[int] = set()  # qubits a gate or measurement has touched
        self.measured: Dict[int, Tuple[_Parser, int]] = {}  # qubit -> where it was measured
        self.measured_into: Dict[int, int] = {}  # qubit -> clbit
        self.includes: List[str] = []

    def qubit_name(self, qubit: int) -> str:
        for name, (first, size) in self.qregs.items():
            if first <= qubit < first + size:
                return "%s[%d]" % (name, qubit - first)
        return str(qubit)

    def circuit(self) -> Circuit:
        def layout(registers: Dict[str, Tuple[int, int]]) -> List[Tuple[str, int]]:
            return [(name, size) for name, (_, size) in registers.items()]
        return Circuit._from_operations(self.n_qubits, self.n_clbits, layout(self.qregs),
                                        layout(self.cregs), self.ops,
                                        (self.used, self.measured_into))


# A parsed argument: register name, index or None for the whole register, token number.
Argument = Tuple[str, Optional[int], int]


def _is_identifier(token: str) -> bool:
    return "a" <= token[:1] <= "z" and token not in KEYWORDS


def _is_number(token: str) -> bool:
    return "0" <= token[:1] <= "9" or token[:1] == "." and "0" <= token[1:2] <= "9"


class _Parser:
    """The statements of one text. Positions are token numbers: self.tokens[self.i] is the next
    token; the text offset of a token is found again only for an error message."""

    def __init__(self, text: str, file: str, directory: Optional[str], program: _Program) -> None:
        self.src = text
        self.tokens: List[str] = _TOKEN.findall(text)
        self.i = 0
        self.file = file
        self.directory = directory
        self.program = program
        self.gate_params: Optional[Tuple[str, ...]] = None  # inside a gate body: its parameters
        self.nesting = 0  # unary_rule calls under way

    # -- positions and errors -----------------------------------------------------------------
    def where(self, token: int) -> Tuple[int, int]:
        """Line and column, from 1, of token number `token`."""
        offset = len(self.src)
        for number, match in enumerate(_TOKEN.finditer(self.src)):
            if number == token:
                offset = match.start(1)
                break
        line = self.src.count("\n", 0, offset) + 1
        return line, offset - self.src.rfind("\n", 0, offset)

    def fail(self, token: int, expected: str, message: Optional[str] = None) -> QasmError:
        if message is None:
            found = self.tokens[token] if token < len(self.tokens) else ""
            message = "expected %s, found %s" % (
                expected, repr(found) if found else "the end of the file")
        line, column = self.where(token)
        return QasmError(message, self.file, line, column, expected)

    # -- tokens -------------------------------------------------------------------------------
    def take(self) -> str:
        token = self.tokens[self.i]
        if token:
            self.i += 1
        return token

    def expect(self, text: str, where: str = "") -> None:
        if self.tokens[self.i] != text:
            raise self.fail(self.i, "'%s'%s" % (text, where))
        self.i += 1

    def identifier(self, what: str) -> Tuple[str, int]:
        token = self.tokens[self.i]
        if not _is_identifier(token):
            message = None
            if token[:1].isalpha() or token[:1] == "_":
                message = "%s must start with a lower-case letter and not be a keyword, " \
                          "found %r" % (what, token)
            raise self.fail(self.i, what, message)
        self.i += 1
        return token, self.i - 1

    def integer(self, what: str) -> int:
        token = self.tokens[self.i]
        if not token.isdigit():
            raise self.fail(self.i, what)
        self.i += 1
        return int(token)

    def id_list(self, what: str) -> List[Tuple[str, int]]:
        names = [self.identifier(what)]
        while self.tokens[self.i] == ",":
            self.i += 1
            names.append(self.identifier(what))
        return names

    # -- program ------------------------------------------------------------------------------
    def program_rule(self) -> None:
        if self.take() != "OPENQASM":
            raise self.fail(0, "the header 'OPENQASM 2.0;'")
        version = self.take()
        if not _is_number(version):
            raise self.fail(self.i - (version != ""), "the version 2.0")
        if float(version) != 2.0:
            raise self.fail(self.i - 1, "the version 2.0", "only OpenQASM 2.0 is read, this "
                            "file is version %s" % version)
        self.expect(";", " after the version")
        self.statements()

    def statements(self) -> None:
        rules = {"include": self.include_rule, "qreg": self.qreg_rule, "creg": self.creg_rule,
                 "gate": self.gate_decl_rule, "opaque": self.opaque_rule,
                 "measure": self.measure_rule, "reset": self.reset_rule,
                 "barrier": self.barrier_rule, "if": self.if_rule}
        tokens = self.tokens
        while tokens[self.i]:
            start = self.i
            name = tokens[start]
            self.i += 1
            rule = rules.get(name)
            if rule is not None:
                rule(start)
            elif name == "OPENQASM":
                raise self.fail(start, "a statement", "the header OPENQASM comes once, at the "
                                                      "start of the main file")
            elif name[:1].isalpha():
                self.gate_call_rule(name, start)
            else:
                raise self.fail(start, "a statement")

    def include_rule(self, start: int) -> None:
        token = self.tokens[self.i]
        if token[:1] != '"':
            raise self.fail(self.i, "a file name in double quotes")
        self.i += 1
        self.expect(";", " after the file name")
        name = token[1:-1]
        if name == "qelib1.inc":
            self.include_qelib1(start)
            return
        path = os.path.abspath(os.path.join(self.directory or os.getcwd(), name))
        program = self.program
        if len(program.includes) >= _MAX_INCLUDE_DEPTH or path in program.includes:
            raise self.fail(start, "an include that does not include itself",
                            "include of %r nests too deep or includes itself" % name)
        try:
            with open(path, encoding="utf-8") as handle:
                text = handle.read()
        except (OSError, UnicodeDecodeError) as error:
            raise self.fail(start, "a readable UTF-8 file",
                            "cannot read included file %r: %s" % (name, error)) from None
        program.includes.append(path)
        _Parser(text, path, os.path.dirname(path), program).statements()
        program.includes.pop()

    def include_qelib1(self, start: int) -> None:
        program = self.program
        if program.qelib1:
            return
        for name, gate in GATES.items():
            if gate.qelib1:
                if name in program.gates:
                    raise self.fail(start, "gate names that qelib1.inc does not define",
                                    "qelib1.inc defines gate '%s', which is already defined"
                                    % name)
                program.gates[name] = gate
        program.qelib1 = True

    def register_rule(self, registers: Dict[str, Tuple[int, int]], first: int,
                      kind: str) -> int:
        """Declares a register whose bits start at `first`; returns its size."""
        name, token = self.identifier("a register name")
        if name in self.program.qregs or name in self.program.cregs:
            raise self.fail(token, "a new register name", "register '%s' is already declared"
                                                          % name)
        self.expect("[", " after the register name")
        size = self.integer("the register size")
        if size < 1:
            raise self.fail(self.i - 1, "a size of at least 1", "a %s needs at least one bit"
                                                               % kind)
        self.expect("]", " after the register size")
        self.expect(";", " after the register")
        registers[name] = (first, size)
        return size

    def qreg_rule(self, start: int) -> None:
        program = self.program
        program.n_qubits += self.register_rule(program.qregs, program.n_qubits, "qreg")

    def creg_rule(self, start: int) -> None:
        program = self.program
        program.n_clbits += self.register_rule(program.cregs, program.n_clbits, "creg")

    def opaque_rule(self, start: int) -> None:
        raise self.fail(start, "a gate with a definition", "opaque gate %r is not supported: "
                        "it has no definition to simulate" % self.tokens[self.i])

    def if_rule(self, start: int) -> None:
        raise self.fail(start, "an unconditioned statement", "'if' is not supported: a "
                        "condition on a measured bit needs measurement in mid-circuit")

    # -- gate definitions ---------------------------------------------------------------------
    def gate_decl_rule(self, start: int) -> None:
        program = self.program
        name, name_token = self.identifier("a gate name")
        if name in program.gates:
            raise self.fail(name_token, "a new gate name", "gate '%s' is already defined" % name)
        params: List[Tuple[str, int]] = []
        if self.tokens[self.i] == "(":
            self.i += 1
            if self.tokens[self.i] != ")":
                params = self.id_list("a parameter name")
            self.expect(")", " after the parameters")
        qubits = self.id_list("a qubit argument name")
        seen: Set[str] = set()
        for arg, token in params + qubits:
            if arg in seen:
                raise self.fail(token, "distinct names", "'%s' is declared twice in gate '%s'"
                                % (arg, name))
            seen.add(arg)
        self.expect("{", " to open the gate body")
        qubit_names = tuple(q for q, _ in qubits)
        self.gate_params = tuple(p for p, _ in params)
        body = []
        try:
            while self.tokens[self.i] != "}":
                body.append(self.body_op_rule(name, qubit_names))
        finally:
            self.gate_params = None
        self.i += 1
        program.gates[name] = _UserGate(name, tuple(p for p, _ in params), qubit_names, body,
                                        self)

    def body_op_rule(self, gate: str, qubits: Tuple[str, ...]) -> Tuple[
            Union[Gate, _UserGate, None], List[Node], Tuple[int, ...], int]:
        start = self.i
        name = self.take()
        if not name[:1].isalpha() or name in KEYWORDS - {"U", "CX", "barrier"}:
            raise self.fail(start, "a gate call, a barrier or '}'",
                            "'%s' cannot appear in a gate body, only gate calls and barriers "
                            "can" % name if name in KEYWORDS else None)
        callee: Union[Gate, _UserGate, None] = None
        exps: List[Node] = []
        if name != "barrier":
            callee = self.callee(name, start)
            exps = self.exp_list_option()
        args = self.id_list("a qubit argument of gate '%s'" % gate)
        if self.tokens[self.i] == "[":
            raise self.fail(self.i, "';'", "a gate body uses its qubit arguments whole, "
                                           "without an index")
        self.expect(";", " after the arguments")
        indices = []
        for arg, token in args:
            if arg not in qubits:
                raise self.fail(token, "a qubit argument of gate '%s'" % gate,
                                "'%s' is not a qubit argument of gate '%s'" % (arg, gate))
            indices.append(qubits.index(arg))
        if callee is not None:
            self.check_arity(callee, name, len(exps), len(args), start)
        if len(set(indices)) != len(indices):
            raise self.fail(start, "distinct qubits", "%s uses a qubit twice" % name)
        return callee, exps, tuple(indices), start

    # -- gate calls ---------------------------------------------------------------------------
    def callee(self, name: str, token: int) -> Union[Gate, _UserGate]:
        gate = self.program.gates.get(name)
        if gate is None:
            hint = ""
            if name in GATES and not self.program.qelib1:
                hint = " (add include \"qelib1.inc\"; to define it)"
            raise self.fail(token, "a defined gate", "unknown gate '%s'%s" % (name, hint))
        return gate

    def check_arity(self, gate: Union[Gate, _UserGate], name: str, n_params: int,
                    n_args: int, token: int) -> None:
        if n_params != len(gate.params) or n_args != len(gate.qubits):
            raise self.fail(token, "%d parameters and %d qubits" % (len(gate.params),
                                                                    len(gate.qubits)),
                            "gate '%s' takes %d parameters and %d qubits, got %d and %d"
                            % (name, len(gate.params), len(gate.qubits), n_params, n_args))

    def exp_list_option(self) -> List[Node]:
        if self.tokens[self.i] != "(":
            return []
        self.i += 1
        exps = []
        if self.tokens[self.i] != ")":
            exps.append(self.exp_rule())
            while self.tokens[self.i] == ",":
                self.i += 1
                exps.append(self.exp_rule())
        self.expect(")", " after the parameters")
        return exps

    def argument_rule(self) -> Argument:
        name, token = self.identifier("a register name")
        if self.tokens[self.i] != "[":
            return name, None, token
        self.i += 1
        index = self.integer("an index")
        self.expect("]", " after the index")
        return name, index, token

    def arg_list_rule(self) -> List[Argument]:
        args = [self.argument_rule()]
        while self.tokens[self.i] == ",":
            self.i += 1
            args.append(self.argument_rule())
        return args

    def resolve(self, arg: Argument, registers: Dict[str, Tuple[int, int]],
                kind: str) -> List[int]:
        name, index, token = arg
        register = registers.get(name)
        if register is None:
            raise self.fail(token, "a %s register" % kind, "'%s' is not a declared %s register"
                            % (name, kind))
        first, size = register
        if index is None:
            return list(range(first, first + size))
        if index >= size:
            raise self.fail(token, "an index below %d" % size, "index %d is out of range for "
                            "%s[%d]" % (index, name, size))
        return [first + index]

    def broadcast(self, args: List[Argument], registers: Dict[str, Tuple[int, int]],
                  kind: str, start: int) -> List[Tuple[int, ...]]:
        """The argument tuples of a statement: whole registers of one size n give n of them."""
        lists = [self.resolve(arg, registers, kind) for arg in args]
        sizes = {len(bits) for bits, arg in zip(lists, args) if arg[1] is None}
        if not sizes:
            return [tuple(bits[0] for bits in lists)]
        if len(sizes) > 1:
            raise self.fail(start, "whole registers of one size",
                            "whole registers of different sizes %s in one statement"
                            % sorted(sizes))
        n = sizes.pop()
        return [tuple(bits[k] if arg[1] is None else bits[0] for bits, arg in zip(lists, args))
                for k in range(n)]

    def check_unmeasured(self, qubits: Sequence[int], what: str, start: int) -> None:
        for q in qubits:
            where = self.program.measured.get(q)
            if where is not None:
                parser, token = where
                raise self.fail(start, "operations before the final measurements",
                                "measurement in mid-circuit: %s, measured at %s:%d, is used "
                                "again by %s" % (self.program.qubit_name(q), parser.file,
                                                 parser.where(token)[0], what))

    def gate_call_rule(self, name: str, start: int) -> None:
        gate = self.callee(name, start)
        exps = self.exp_list_option()
        args = self.arg_list_rule()
        self.expect(";", " after the arguments")
        if len(exps) != len(gate.params) or len(args) != len(gate.qubits):
            self.check_arity(gate, name, len(exps), len(args), start)
        # Outside a gate body every expression is already a number.
        params = cast(_Angles, tuple(exps))
        program = self.program
        qregs = program.qregs
        single = []  # the common case first: every argument one qubit in range
        for register, index, _ in args:
            first_size = qregs.get(register)
            if index is None or first_size is None or index >= first_size[1]:
                applications = self.broadcast(args, qregs, "quantum", start)
                break
            single.append(first_size[0] + index)
        else:
            applications = [tuple(single)]
        for qubits in applications:
            if len(qubits) > 1 and len(set(qubits)) != len(qubits):
                raise self.fail(start, "distinct qubits", "%s uses qubit %s twice" % (
                    name, program.qubit_name(max(qubits, key=qubits.count))))
            if program.measured:
                self.check_unmeasured(qubits, name, start)
            program.used.update(qubits)
            if isinstance(gate, Gate):
                program.ops.append(_operation((name, qubits, params)))
            else:
                self.expand(gate, params, qubits)

    def expand(self, gate: _UserGate, values: Sequence[float], qubits: Tuple[int, ...]) -> None:
        """Appends the operations of a call of a defined gate, its calls of other defined gates
        expanded in turn (with a stack of the calls under way rather than recursion)."""
        ops = self.program.ops
        stack = [(gate, dict(zip(gate.params, values)), qubits, 0)]
        while stack:
            gate, env, qubits, next_op = stack.pop()
            for position in range(next_op, len(gate.body)):
                callee, exps, indices, _ = gate.body[position]
                args = tuple(qubits[i] for i in indices)
                try:
                    params = tuple(_evaluate(e, env) for e in exps)
                except _Fault as fault:
                    raise gate.source.fail(fault.pos, "an expression with a value", "%s (in gate "
                                           "'%s')" % (fault.message, gate.name)) from None
                if callee is None:
                    ops.append(Operation("barrier", args))
                elif isinstance(callee, Gate):
                    ops.append(Operation(callee.name, args, params))
                else:
                    stack.append((gate, env, qubits, position + 1))
                    stack.append((callee, dict(zip(callee.params, params)), args, 0))
                    break

    # -- other quantum operations -------------------------------------------------------------
    def measure_rule(self, start: int) -> None:
        source = self.argument_rule()
        self.expect("->", " after the measured qubits")
        target = self.argument_rule()
        self.expect(";", " after the classical bits")
        if (source[1] is None) != (target[1] is None):
            raise self.fail(start, "two whole registers or two single bits",
                            "measure needs two whole registers or two indexed bits")
        program = self.program
        qubits = self.resolve(source, program.qregs, "quantum")
        clbits = self.resolve(target, program.cregs, "classical")
        if len(qubits) != len(clbits):
            raise self.fail(start, "registers of one size", "measure of %d qubits into %d "
                            "classical bits" % (len(qubits), len(clbits)))
        for q, c in zip(qubits, clbits):
            program.ops.append(Operation("measure", (q,), (c,)))
            program.used.add(q)
            program.measured[q] = (self, start)
            program.measured_into[q] = c

    def reset_rule(self, start: int) -> None:
        arg = self.argument_rule()
        self.expect(";", " after the argument")
        program = self.program
        for q in self.resolve(arg, program.qregs, "quantum"):
            if q in program.used:
                raise self.fail(start, "reset of fresh qubits only",
                                "reset is not supported after %s was used: only fresh qubits "
                                "can be reset" % program.qubit_name(q))
            program.ops.append(Operation("reset", (q,)))

    def barrier_rule(self, start: int) -> None:
        args = self.arg_list_rule()
        self.expect(";", " after the arguments")
        qubits = [q for arg in args for q in self.resolve(arg, self.program.qregs, "quantum")]
        if len(set(qubits)) != len(qubits):
            raise self.fail(start, "distinct qubits", "barrier lists a qubit twice")
        self.program.ops.append(Operation("barrier", tuple(qubits)))

    # -- expressions --------------------------------------------------------------------------
    def tree(self, op: str, token: int, *operands: Node) -> Node:
        """An operator node over operands of which at least one is not yet a number."""
        depth = 1 + max(cast(Tuple[Any, ...], n)[2] for n in operands if type(n) is not float)
        if depth > _MAX_TREE_DEPTH:
            raise self.fail(token, "an expression of at most %d operators on a parameter"
                            % _MAX_TREE_DEPTH, "expression too deep")
        return (op, token, depth, *operands)

    def binary(self, op: str, left: Node, right: Node, token: int) -> Node:
        if type(left) is float and type(right) is float:
            return self.constant(op, [left, right], token)
        return self.tree(op, token, left, right)

    def constant(self, op: str, args: List[float], token: int) -> float:
        try:
            return _calculate(op, args, token)
        except _Fault as fault:
            raise self.fail(fault.pos, "an expression with a value", fault.message) from None

    def exp_rule(self) -> Node:
        node = self.term_rule()
        while True:
            token = self.i
            op = self.tokens[token]
            if op != "+" and op != "-":
                return node
            self.i += 1
            node = self.binary(op, node, self.term_rule(), token)

    def term_rule(self) -> Node:
        node = self.unary_rule()
        while True:
            token = self.i
            op = self.tokens[token]
            if op != "*" and op != "/":
                return node
            self.i += 1
            node = self.binary(op, node, self.unary_rule(), token)

    def unary_rule(self) -> Node:
        self.nesting += 1
        if self.nesting > _MAX_NESTING:
            raise self.fail(self.i, "an expression nested at most %d deep" % _MAX_NESTING,
                            "expression nested too deeply")
        if self.tokens[self.i] == "-":
            token = self.i
            self.i += 1
            operand = self.unary_rule()
            node = -operand if type(operand) is float else self.tree("neg", token, operand)
        else:
            node = self.power_rule()
        self.nesting -= 1
        return node

    def power_rule(self) -> Node:
        base = self.atom_rule()
        token = self.i
        if self.tokens[token] == "^":
            self.i += 1
            return self.binary("^", base, self.unary_rule(), token)
        return base

    def atom_rule(self) -> Node:
        token = self.i
        text = self.take()
        if text == "(":
            node = self.exp_rule()
            self.expect(")", " to close the bracket")
            return node
        if _is_number(text):
            if "." not in text and ("e" in text or "E" in text):
                raise self.fail(token, "a real number with a decimal point",
                                "a real number needs a decimal point, as in 1.0e-05")
            return float(text)
        if text == "pi":
            return math.pi
        if text in _FUNCTIONS:
            self.expect("(", " after the function name")
            operand = self.exp_rule()
            self.expect(")", " after the function's argument")
            if type(operand) is float:
                return self.constant(text, [operand], token)
            return self.tree(text, token, operand)
        if self.gate_params is not None and text in self.gate_params:
            return ("id", token, 1, text)
        self.i = token
        if _is_identifier(text):
            raise self.fail(token, "a number, pi, a parameter or a function",
                            "unknown parameter '%s'" % text)
        raise self.fail(token, "an expression")


def from_qasm(text: str, name: str = "<qasm>") -> Circuit:
    """Reads OpenQASM 2.0 text into a Circuit; `name` stands for the file in error messages.

    >>> from_qasm('OPENQASM 2.0; include "qelib1.inc"; qreg q[2]; h q; cx q[0],q[1];')
    Circuit(2).h(0).h(1).cx(0, 1)
    """
    program = _Program()
    _Parser(text, name, None, program).program_rule()
    return program.circuit()


def load(path: Union[str, "os.PathLike[str]"]) -> Circuit:
    """Reads an OpenQASM 2.0 file; includes other than qelib1.inc are read beside it."""
    path = os.fspath(path)
    with open(path, "rb") as handle:
        data = handle.read()
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as error:
        line = data.count(b"\n", 0, error.start) + 1
        column = error.start - data.rfind(b"\n", 0, error.start)
        raise QasmError("the file is not UTF-8 text", path, line, column, "UTF-8 text") \
            from None
    parser = _Parser(text, path, os.path.dirname(os.path.abspath(path)), _Program())
    parser.program.includes.append(os.path.abspath(path))
    parser.program_rule()
    return parser.program.circuit()
