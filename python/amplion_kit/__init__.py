"""amplion_kit: circuits to build, inspect, parametrise and share as OpenQASM 2.0, the
quantities computed from their states, and sweeps of many runs over processes or machines, on top
of the amplion simulator.

>>> from amplion_kit import Circuit, expectation
>>> bell = Circuit(2).h(0).cx(0, 1)
>>> expectation(bell, "ZZ")
0.9999999999999998
"""
from .circuit import Circuit, Operation
from .gates import GATES, Gate
from .parameters import Parameter, ParameterExpression
from .qasm_reader import QasmError, from_qasm, load
from .qasm_writer import to_qasm
from .quantities import expectation, marginal_counts, probabilities
from .sweep import SweepError, sweep, task_seed

__all__ = ["Circuit", "Operation", "Parameter", "ParameterExpression", "GATES", "Gate",
           "QasmError", "from_qasm", "load", "to_qasm", "probabilities", "expectation",
           "marginal_counts", "sweep", "SweepError", "task_seed"]
