"""A first look at amplion: build registers, read their amplitudes, see a clear error."""
import amplion


def show(title, reg):
    print(title)
    for i in range(reg.length()):
        re, im = reg.amplitude(i)
        label = format(i, "0%db" % reg.n_qubits)
        print("  |%s>  % .16f %+.16fj" % (label, re, im))


def main():
    one = amplion.StateVecPy(1, seed=7)
    show("A fresh 1-qubit register:", one)

    three = amplion.StateVecPy(3, seed=7)
    print("A 3-qubit register has %d amplitudes." % three.length())
    show("Its initial state:", three)

    print("Asking for a register of 31 qubits:")
    try:
        amplion.StateVecPy(31)
    except ValueError as e:
        print("  ValueError:", e)


if __name__ == "__main__":
    main()
