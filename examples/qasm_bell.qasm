// A Bell pair: H on qubit 0, then CX from qubit 0 to qubit 1, measured into two classical bits.
OPENQASM 2.0;
include "qelib1.inc";

qreg q[2];
creg c[2];

h q[0];
cx q[0], q[1];
measure q -> c;
