"""What Python sees of the module and its two classes."""
import sys

import pytest

import amplion
from conftest import run_python

StateVecPy = amplion.StateVecPy
QuantumCircuit = amplion.QuantumCircuit


def test_module_attributes():
    assert amplion.__all__ == ["StateVecPy", "QuantumCircuit"]
    assert amplion.__doc__ == ""
    own = {k for k in vars(amplion) if not k.startswith("__")}
    assert own == {"StateVecPy", "QuantumCircuit"}
    assert not hasattr(amplion, "PanicException")
    assert amplion.__file__.endswith("amplion.abi3.so")


@pytest.mark.parametrize("cls, signature", [(StateVecPy, "(n_qubits, seed=None)"),
                                            (QuantumCircuit, "(n_qubits)")])
def test_class_identity(cls, signature):
    assert cls.__module__ == "builtins"
    assert cls.__qualname__ == cls.__name__
    assert cls.__doc__ == ""
    if sys.version_info >= (3, 10):  # earlier releases show no text signature on heap types
        assert cls.__text_signature__ == signature
    assert cls.__base__ is object


@pytest.mark.parametrize("cls", [StateVecPy, QuantumCircuit])
def test_classes_are_final_untracked_and_without_dict(cls):
    with pytest.raises(TypeError, match="is not an acceptable base type"):
        type("Sub", (cls,), {})
    obj = cls(2)
    with pytest.raises(AttributeError):
        obj.anything = 1
    assert not hasattr(obj, "__dict__")
    assert not hasattr(obj, "__weakref__")
    import gc
    assert not gc.is_tracked(obj)


def test_n_qubits_attribute():
    reg = StateVecPy(3, seed=0)
    assert reg.n_qubits == 3
    assert StateVecPy.n_qubits.__doc__ == ""
    with pytest.raises(AttributeError):
        reg.n_qubits = 4
    with pytest.raises(AttributeError):
        del reg.n_qubits
    assert reg.n_qubits == 3
    with pytest.raises(AttributeError):
        QuantumCircuit(3).n_qubits


def test_method_docs_and_signatures():
    assert StateVecPy.length.__text_signature__ == "($self)"
    assert StateVecPy.length.__doc__ is None
    assert StateVecPy.amplitude.__text_signature__ == "($self, i)"
    assert StateVecPy.check_qubit.__text_signature__ == "($self, q)"
    assert StateVecPy.check_qubit.__doc__ is None


def test_noarg_methods_reject_arguments():
    reg = StateVecPy(1, seed=0)
    with pytest.raises(TypeError):
        reg.length(1)
    with pytest.raises(TypeError):
        reg.length(q=1)


def test_second_import_in_one_process_fails():
    result = run_python(
        "import sys, amplion\n"
        "first = amplion\n"
        "del sys.modules['amplion']\n"
        "try:\n"
        "    import amplion\n"
        "except ImportError as e:\n"
        "    print('ImportError:', e)\n"
        "print(first.StateVecPy(2).length())\n")
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "ImportError: amplion may only be initialized once per interpreter process", "4"]
