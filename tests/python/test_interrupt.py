"""Ctrl-C during long calls: a child process gets SIGINT one second into the call, which must end
with the handler's exception and leave its objects as documented and usable."""
import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

from conftest import module_dir

# Recording 200,000 gates costs a fraction of a second; replaying them on 20 qubits takes minutes.
LONG_CIRCUIT = """
circ = amplion.QuantumCircuit(20)
for _ in range(100_000):
    circ.x(0)
    circ.x(19)
"""

# After any whole number of those x gates the register is |0>, |1>, |2^19> or |2^19 + 1>; half
# of a copying gate would leave anything else.
BASIS_STATE = """
a = reg.amplitudes()
nonzero = a.nonzero()[0].tolist()
assert len(nonzero) == 1 and nonzero[0] in (0, 1, 1 << 19, (1 << 19) + 1), nonzero
assert a[nonzero[0]] == 1.0
"""

# name: (setup, the long call, check afterwards, exception expected)
CALLS = {
    "measure_counts seeded": (
        "reg = amplion.StateVecPy(4)\nfor q in range(4): reg.h(q)",
        "reg.measure_counts(10**11, seed=5)",
        # The generator is as the reseed left it: the next unseeded call continues from there.
        """
        fresh = amplion.StateVecPy(4)
        for q in range(4): fresh.h(q)
        fresh.measure_counts(0, seed=5)
        assert reg.measure_counts(1000) == fresh.measure_counts(1000)
        assert (reg.amplitudes() == fresh.amplitudes()).all()
        """,
        "KeyboardInterrupt",
    ),
    "measure_counts unseeded": (
        "reg = amplion.StateVecPy(4, seed=8)\nfor q in range(4): reg.h(q)",
        "reg.measure_counts(10**11)",
        # The two-word skip stays, the draws are dropped.
        """
        fresh = amplion.StateVecPy(4, seed=8)
        for q in range(4): fresh.h(q)
        fresh.measure_counts(0)
        assert reg.measure_counts(1000) == fresh.measure_counts(1000)
        """,
        "KeyboardInterrupt",
    ),
    "apply_gates": (
        LONG_CIRCUIT + "reg = amplion.StateVecPy(20)",
        "circ.apply_gates(reg)",
        BASIS_STATE + "reg.h(0)\ncirc.cx(0, 1)\nassert reg.measure_counts(10, seed=1)",
        "KeyboardInterrupt",
    ),
    "run": (
        LONG_CIRCUIT,
        "circ.run(10, seed=1)",
        "circ.h(0)",  # the shared borrow is gone: recording takes an exclusive one
        "KeyboardInterrupt",
    ),
    "statevector": (
        LONG_CIRCUIT,
        "circ.statevector()",
        "circ.h(0)",
        "KeyboardInterrupt",
    ),
    # The handler runs while the call holds its exclusive borrow of the register.
    "handler touches the register": (
        "reg = amplion.StateVecPy(4)\nsignal.signal(signal.SIGINT, lambda s, f: reg.amplitude(0))",
        "reg.measure_counts(10**11, seed=5)",
        "assert str(caught) == 'Already mutably borrowed', caught\nreg.h(0)",
        "RuntimeError",
    ),
}

CHILD = """
import signal, sys, time
import amplion
signal.signal(signal.SIGINT, signal.default_int_handler)
{setup}
print("ready", flush=True)
try:
    {call}
except {exception} as error:
    answered = time.monotonic()
    caught = error
else:
    sys.exit("the call ended without the exception")
{check}
print(answered, flush=True)
"""


def interrupt_child(setup, call, check, exception):
    """Seconds from SIGINT to the exception in a child that runs `call` after `setup`."""
    code = CHILD.format(setup=setup, call=call, exception=exception,
                        check=textwrap.dedent(check))
    env = dict(os.environ, PYTHONPATH=module_dir())
    child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, env=env)
    try:
        assert child.stdout.readline() == "ready\n", child.stderr.read()
        time.sleep(1.0)
        sent = time.monotonic()  # one clock for every process on Linux
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=60)
    finally:
        child.kill()
    assert child.returncode == 0, err
    return float(out.split()[-1]) - sent


@pytest.mark.parametrize("name", list(CALLS))
def test_sigint_ends_the_call_and_leaves_the_objects_usable(name):
    latency = interrupt_child(*CALLS[name])
    print(f"{name}: answered {latency * 1e3:.1f} ms after SIGINT")
    assert 0.0 < latency < 0.5
