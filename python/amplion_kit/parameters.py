"""Symbolic angles: Parameter("theta") and the arithmetic built on it, bound to numbers later.

An expression is plain data (an operator and its operands), so it compares by structure, hashes,
and pickles. Binding evaluates it with ordinary float arithmetic, in the order it was written.
"""
from __future__ import annotations

import math
from typing import Callable, Dict, FrozenSet, Mapping, SupportsFloat, Tuple, Union

Value = Union[float, "ParameterExpression"]

# Operator, precedence and the float function of each binary operator.
_BINARY: Dict[str, Tuple[int, Callable[[float, float], float]]] = {
    "+": (1, lambda a, b: a + b),
    "-": (1, lambda a, b: a - b),
    "*": (2, lambda a, b: a * b),
    "/": (2, lambda a, b: a / b),
    "**": (4, math.pow),
}
_NEGATION_PRECEDENCE = 3
_ATOM_PRECEDENCE = 5


def _operand(value: object) -> Value:
    if isinstance(value, ParameterExpression):
        return value
    if isinstance(value, SupportsFloat):
        return float(value)
    raise TypeError("a parameter expression takes numbers and parameters, not %s"
                    % type(value).__name__)


class ParameterExpression:
    """An angle built from parameters with + - * / ** and unary minus.

    >>> theta = Parameter("theta")
    >>> (2 * theta + 1).bind({"theta": 0.25})
    1.5
    """

    __slots__ = ("op", "args", "label")

    def __init__(self, op: str, args: Tuple[Value, ...], label: str = "") -> None:
        self.op = op  # "name" for a parameter, "neg", or a key of _BINARY
        self.args = args
        self.label = label  # a parameter's name

    # -- arithmetic ---------------------------------------------------------------------------
    def _binary(self, op: str, left: object, right: object) -> ParameterExpression:
        return ParameterExpression(op, (_operand(left), _operand(right)))

    def __add__(self, other: object) -> ParameterExpression:
        return self._binary("+", self, other)

    def __radd__(self, other: object) -> ParameterExpression:
        return self._binary("+", other, self)

    def __sub__(self, other: object) -> ParameterExpression:
        return self._binary("-", self, other)

    def __rsub__(self, other: object) -> ParameterExpression:
        return self._binary("-", other, self)

    def __mul__(self, other: object) -> ParameterExpression:
        return self._binary("*", self, other)

    def __rmul__(self, other: object) -> ParameterExpression:
        return self._binary("*", other, self)

    def __truediv__(self, other: object) -> ParameterExpression:
        return self._binary("/", self, other)

    def __rtruediv__(self, other: object) -> ParameterExpression:
        return self._binary("/", other, self)

    def __pow__(self, other: object) -> ParameterExpression:
        return self._binary("**", self, other)

    def __rpow__(self, other: object) -> ParameterExpression:
        return self._binary("**", other, self)

    def __neg__(self) -> ParameterExpression:
        return ParameterExpression("neg", (self,))

    def __pos__(self) -> ParameterExpression:
        return self

    # -- binding ------------------------------------------------------------------------------
    @property
    def parameters(self) -> FrozenSet[str]:
        """The names of the parameters this expression uses."""
        if self.op == "name":
            return frozenset([self.label])
        found: FrozenSet[str] = frozenset()
        for arg in self.args:
            if isinstance(arg, ParameterExpression):
                found |= arg.parameters
        return found

    def bind(self, values: Mapping[str, float]) -> Value:
        """The value with the named parameters replaced: a float once none is left.

        Arithmetic errors (division by zero, a power out of range) raise as float arithmetic
        does."""
        if self.op == "name":
            return values.get(self.label, self)
        args = [a.bind(values) if isinstance(a, ParameterExpression) else a for a in self.args]
        numbers = [a for a in args if not isinstance(a, ParameterExpression)]
        if len(numbers) < len(args):
            return ParameterExpression(self.op, tuple(args))
        if self.op == "neg":
            return -numbers[0]
        return _BINARY[self.op][1](numbers[0], numbers[1])

    def __float__(self) -> float:
        value = self.bind({})
        if isinstance(value, ParameterExpression):
            raise TypeError("unbound parameters: " + ", ".join(sorted(self.parameters)))
        return value

    # -- plain data ---------------------------------------------------------------------------
    def __eq__(self, other: object) -> bool:
        if not isinstance(other, ParameterExpression):
            return NotImplemented
        return (self.op, self.args, self.label) == (other.op, other.args, other.label)

    def __hash__(self) -> int:
        return hash((self.op, self.args, self.label))

    def __reduce__(self) -> Tuple[object, ...]:
        return (ParameterExpression, (self.op, self.args, self.label))

    def _render(self, name: Callable[[str], str]) -> Tuple[str, int]:
        """Source text and its precedence; `name` writes a parameter."""
        if self.op == "name":
            return name(self.label), _ATOM_PRECEDENCE

        def operand(arg: Value, weakest: int) -> str:
            if isinstance(arg, ParameterExpression):
                text, precedence = arg._render(name)
            else:
                text = repr(arg)
                precedence = _ATOM_PRECEDENCE if text[0] != "-" else _NEGATION_PRECEDENCE
            return text if precedence >= weakest else "(" + text + ")"

        if self.op == "neg":
            return "-" + operand(self.args[0], _NEGATION_PRECEDENCE), _NEGATION_PRECEDENCE
        precedence = _BINARY[self.op][0]
        left, right = self.args
        # Left-associative operators need brackets on an equal right operand, ** on the left.
        right_assoc = self.op == "**"
        separator = self.op if precedence > 1 else " %s " % self.op
        return (operand(left, precedence + right_assoc) + separator
                + operand(right, precedence + (not right_assoc))), precedence

    def __repr__(self) -> str:
        return self._render(lambda n: "Parameter(%r)" % n)[0]

    def __str__(self) -> str:
        return self._render(str)[0]


class Parameter(ParameterExpression):
    """A named angle, bound later with Circuit.bind or ParameterExpression.bind.

    >>> Parameter("theta")
    Parameter('theta')
    """

    __slots__ = ()

    def __init__(self, name: str) -> None:
        if not isinstance(name, str) or not name:
            raise TypeError("a parameter's name is a non-empty str")
        super().__init__("name", (), name)

    @property
    def name(self) -> str:
        return self.label

    def __reduce__(self) -> Tuple[object, ...]:
        return (Parameter, (self.label,))
