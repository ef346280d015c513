"""measure_counts as Python sees it: known counts, outcome keys, the generator's reseed or skip,
errors, borrows and a refused allocation."""

import textwrap

import pytest

from amplion import StateVecPy
from conftest import run_python, state_bits

NAN = float("nan")


def prepared(n_qubits, *gates, seed=99):
    sv = StateVecPy(n_qubits, seed=seed)
    for name, *args in gates:
        getattr(sv, name)(*args)
    return sv


def h_all(n_qubits, seed=99):
    return prepared(n_qubits, *[("h", q) for q in range(n_qubits)], seed=seed)


def test_text_signature_doc_and_table_place():
    method = StateVecPy.measure_counts
    assert method.__text_signature__ == "($self, shots, seed=None)"
    assert method.__doc__ is None
    names = list(vars(StateVecPy))
    assert names.index("measure_counts") == names.index("cp") + 1
    assert names.index("check_qubit") == names.index("measure_counts") + 1


KNOWN = [
    ("one qubit, seed 0", 1, 99, {"seed": 0}, {"0": 7, "1": 9}),
    ("one qubit, seed 42", 1, 99, {"seed": 42}, {"0": 8, "1": 8}),
    ("constructed with seed 0, no seed", 1, 0, {}, {"0": 8, "1": 8}),
    ("constructed with seed 0, seed None", 1, 0, {"seed": None}, {"0": 8, "1": 8}),
    ("two qubits, seed 0", 2, 99, {"seed": 0}, {"00": 5, "01": 2, "10": 3, "11": 6}),
]


@pytest.mark.parametrize("name, n_qubits, ctor_seed, kwargs, expected", KNOWN,
                         ids=[k[0] for k in KNOWN])
def test_known_answers_after_h_on_every_qubit(name, n_qubits, ctor_seed, kwargs, expected):
    sv = h_all(n_qubits, seed=ctor_seed)
    counts = sv.measure_counts(16, **kwargs)
    assert type(counts) is dict
    assert counts == expected
    assert all(type(k) is str and type(v) is int for k, v in counts.items())


BASIS = [
    ("fresh one qubit", 1, [], "0"),
    ("x on qubit 0 of 2", 2, [("x", 0)], "01"),
    ("x on qubit 1 of 2", 2, [("x", 1)], "10"),
    ("x on qubit 1 of 3", 3, [("x", 1)], "010"),
    ("x on qubits 0 and 3 of 5", 5, [("x", 0), ("x", 3)], "01001"),
    ("x on the top qubit of 14", 14, [("x", 13)], "1" + "0" * 13),
]


@pytest.mark.parametrize("name, n_qubits, gates, key", BASIS, ids=[b[0] for b in BASIS])
def test_basis_state_gives_one_key_with_qubit_0_last(name, n_qubits, gates, key):
    sv = prepared(n_qubits, *gates)
    for shots in (1, 1000, 70000):
        assert sv.measure_counts(shots) == {key: shots}


@pytest.mark.parametrize("n_qubits, shots", [(3, 4000), (10, 100000)])
def test_uniform_state_reaches_every_key_of_n_characters(n_qubits, shots):
    counts = h_all(n_qubits).measure_counts(shots, seed=5)
    assert sorted(counts) == [format(i, f"0{n_qubits}b") for i in range(2 ** n_qubits)]
    assert sum(counts.values()) == shots
    mean = shots / 2 ** n_qubits
    assert all(abs(c - mean) < 5 * mean ** 0.5 for c in counts.values())


ZERO_STATES = [
    ("h on qubits 0 and 2 of 3", 3, [("h", 0), ("h", 2)], {"000", "001", "100", "101"}),
    ("ghz on 12", 12, [("h", 0)] + [("cx", 0, q) for q in range(1, 12)], {"0" * 12, "1" * 12}),
]


@pytest.mark.parametrize("name, n_qubits, gates, keys", ZERO_STATES,
                         ids=[z[0] for z in ZERO_STATES])
def test_probability_zero_is_never_reported(name, n_qubits, gates, keys):
    counts = prepared(n_qubits, *gates).measure_counts(300000, seed=3)
    assert set(counts) == keys
    assert sum(counts.values()) == 300000


def test_amplitudes_untouched_and_every_result_a_new_dict():
    sv = prepared(3, ("h", 0), ("ry", 1, 0.4), ("cx", 0, 2), ("t", 2))
    before = state_bits(sv)
    first = sv.measure_counts(500, seed=8)
    first["000"] = -1
    second = sv.measure_counts(500, seed=8)
    assert second is not first
    assert second["000"] != -1
    assert second == sv.measure_counts(500, seed=8)
    assert state_bits(sv) == before


def test_zero_shots_still_reseeds():
    sv = h_all(1, seed=99)
    assert sv.measure_counts(0, seed=0) == {}
    # Now as if constructed with seed 0: the known unseeded answer follows.
    assert sv.measure_counts(16) == {"0": 8, "1": 8}


def test_zero_shots_without_seed_still_skips_two_words():
    skipped = h_all(3, seed=0)
    assert skipped.measure_counts(0) == {}  # skips draw 0
    drawn = h_all(3, seed=99)
    drawn.measure_counts(1, seed=0)  # uses draw 0
    # Both go on with the skip of draw 1 and draws 2 to 65.
    assert skipped.measure_counts(64) == drawn.measure_counts(64)


def test_seeded_history_repeats():
    def run():
        sv = h_all(4, seed=17)
        sv.ry(1, 0.3)
        return sv.measure_counts(200), sv.measure_counts(300), sv.measure_counts(50, seed=2)

    assert run() == run()


def test_keyword_arguments():
    a = h_all(2).measure_counts(shots=40, seed=6)
    b = h_all(2).measure_counts(40, 6)
    assert a == b and sum(a.values()) == 40


def test_nan_weight_is_value_error_and_leaves_the_amplitudes():
    sv = prepared(2, ("rx", 0, NAN))
    before = state_bits(sv)
    for kwargs in ({"seed": 1}, {}):
        for shots in (0, 10):
            with pytest.raises(ValueError) as info:
                sv.measure_counts(shots, **kwargs)
            assert type(info.value) is ValueError
            assert str(info.value) == "A weight is invalid in distribution"
    assert state_bits(sv) == before


@pytest.mark.parametrize("args, error, text", [
    ((-1,), OverflowError, None),
    ((2 ** 64,), OverflowError, None),
    (("1",), TypeError, "argument 'shots': 'str' object cannot be interpreted as an integer"),
    ((1, -1), OverflowError, None),
    ((1, 2 ** 64), OverflowError, None),
    ((1, 1.0), TypeError, "argument 'seed': 'float' object cannot be interpreted as an integer"),
])
def test_conversion_errors_happen_before_the_generator_moves(args, error, text):
    sv = h_all(1, seed=0)
    with pytest.raises(error) as info:
        sv.measure_counts(*args)
    if text is not None:
        assert str(info.value) == text
    assert sv.measure_counts(16) == {"0": 8, "1": 8}


def test_reentrant_calls_during_conversion_are_refused():
    sv = h_all(3, seed=0)
    seen = []

    class Shots:
        def __index__(self):
            try:
                sv.amplitude(0)
            except RuntimeError as error:
                seen.append(str(error))
            try:
                sv.measure_counts(1)
            except RuntimeError as error:
                seen.append(str(error))
            return 0

    assert sv.measure_counts(Shots()) == {}
    assert seen == ["Already mutably borrowed", "Already borrowed"]
    # Only the outer call moved the generator: one skip, as after measure_counts(0).
    reference = h_all(3, seed=0)
    reference.measure_counts(0)
    assert sv.measure_counts(64) == reference.measure_counts(64)


def test_refused_allocation_keeps_the_generator_step():
    script = textwrap.dedent(
        """
        import os, resource
        import amplion

        def mapped():
            with open("/proc/self/statm") as f:
                return int(f.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")

        def spread(seed):
            sv = amplion.StateVecPy(20, seed=seed)
            for q in range(4):
                sv.h(q)
            return sv

        seeded, unseeded = spread(1), spread(2)
        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        resource.setrlimit(resource.RLIMIT_AS, (mapped() + (4 << 20), hard))
        for call in (lambda: seeded.measure_counts(1, seed=5), lambda: unseeded.measure_counts(1)):
            try:
                call()
                print("no error")
            except MemoryError as error:
                print(error)
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        reseeded = spread(3)
        reseeded.measure_counts(0, seed=5)
        print(seeded.measure_counts(40) == reseeded.measure_counts(40))
        skipped = spread(2)
        skipped.measure_counts(0)
        print(unseeded.measure_counts(40) == skipped.measure_counts(40))
        """
    )
    result = run_python(script)
    assert result.returncode == 0, result.stderr
    message = "cannot allocate 8388608 bytes for 20-qubit probabilities"
    assert result.stdout.splitlines() == [message, message, "True", "True"]
