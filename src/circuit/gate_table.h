// The gates of both classes, each written once. GateKind, Circuit's recording methods and its
// replay, and the gate rows of the StateVecPy and QuantumCircuit method tables (parameter lists,
// text signatures, docstrings) are all expanded from AMPLION_GATES.
//
// Adding a gate takes one row here and its engine operation: a member of engine::Register named
// like the row, returning Status and taking its operands in parameter order (up to three
// std::uint64_t qubits, then at most one double angle). Rows are only ever appended: a kind's
// number is its row's position, and the rows' order is the order of the gate methods in both
// method tables.
//
// G(Kind, name, register params, circuit params, register doc, circuit doc)
//   Kind    the enumerator GateKind::k<Kind>.
//   name    the Python method on both classes, the Register operation it calls and the Circuit
//           method that records it.
//   params  the Python parameter names on StateVecPy and on QuantumCircuit, in operand order;
//           all required, passed by position or keyword.
//   doc     the docstring text that follows the text signature on that class ("" for none).
#pragma once

// clang-format off
#define AMPLION_GATES(G)                                                                         \
  G(X,     x,     (q),                       (q),           "", "")                              \
  G(Y,     y,     (q),                       (q),           "", "")                              \
  G(Z,     z,     (q),                       (q),           "", "")                              \
  G(H,     h,     (q),                       (q),           "", "")                              \
  G(S,     s,     (q),                       (q),           "", "")                              \
  G(Sdg,   sdg,   (q),                       (q),           "", "")                              \
  G(T,     t,     (q),                       (q),           "", "")                              \
  G(Tdg,   tdg,   (q),                       (q),           "", "")                              \
  G(SX,    sx,    (q),                       (q),           "", "")                              \
  G(SXdg,  sxdg,  (q),                       (q),                                                \
    "√X dagger (SXdg) on qubit q. Matrix = (1/2)[[1-i, 1+i],[1+i,1-i]].", "")                    \
  G(RX,    rx,    (q, theta),                (q, theta),                                         \
    "RX(θ) on qubit q: exp(-i θ X / 2).", "")                                                    \
  G(RY,    ry,    (q, theta),                (q, theta),    "", "")                              \
  G(RZ,    rz,    (q, theta),                (q, theta),    "", "")                              \
  G(CX,    cx,    (control, target),         (c, t),        "", "")                              \
  G(Swap,  swap,  (q1, q2),                  (q1, q2),      "", "")                              \
  G(CY,    cy,    (control, target),         (c, t),        "", "")                              \
  G(CZ,    cz,    (control, target),         (c, t),        "", "")                              \
  G(CCX,   ccx,   (c1, c2, t),               (c1, c2, t),   "", "")                              \
  G(CSwap, cswap, (c, t1, t2),               (c, t1, t2),   "", "")                              \
  G(CP,    cp,    (control, target, theta),  (c, t, theta), "", "")
// clang-format on

// Helpers that read a parenthesised params column such as (control, target). AMPLION_GATE_PICK
// selects the variant of a helper for one, two or three parameters.
#define AMPLION_GATE_UNPACK(...) __VA_ARGS__
#define AMPLION_GATE_PICK(a, b, c, chosen, ...) chosen
#define AMPLION_GATE_BY_COUNT(m, ...) \
  AMPLION_GATE_PICK(__VA_ARGS__, m##_3, m##_2, m##_1, unused)(__VA_ARGS__)

// The number of parameters.
#define AMPLION_GATE_COUNT(params) \
  AMPLION_GATE_BY_COUNT(AMPLION_GATE_COUNT, AMPLION_GATE_UNPACK params)
#define AMPLION_GATE_COUNT_1(a) 1
#define AMPLION_GATE_COUNT_2(a, b) 2
#define AMPLION_GATE_COUNT_3(a, b, c) 3

// The names as a braced list of string literals: {"control", "target"}.
#define AMPLION_GATE_NAMES(params) \
  { AMPLION_GATE_BY_COUNT(AMPLION_GATE_NAMES, AMPLION_GATE_UNPACK params) }
#define AMPLION_GATE_NAMES_1(a) #a
#define AMPLION_GATE_NAMES_2(a, b) #a, #b
#define AMPLION_GATE_NAMES_3(a, b, c) #a, #b, #c

// The stored docstring: "cx($self, control, target)\n--\n\n" followed by doc.
#define AMPLION_GATE_DOC(name, params, doc)                                              \
  #name "($self, " AMPLION_GATE_BY_COUNT(AMPLION_GATE_JOINED, AMPLION_GATE_UNPACK params) \
      ")\n--\n\n" doc
#define AMPLION_GATE_JOINED_1(a) #a
#define AMPLION_GATE_JOINED_2(a, b) #a ", " #b
#define AMPLION_GATE_JOINED_3(a, b, c) #a ", " #b ", " #c

// A C++ parameter list with these names and the operand types of `op`, a Register member:
// OperandOf<op, 0> c, OperandOf<op, 1> t.
#define AMPLION_GATE_TYPED(op, params) AMPLION_GATE_TYPED_BY_COUNT(op, AMPLION_GATE_UNPACK params)
#define AMPLION_GATE_TYPED_BY_COUNT(op, ...)                                          \
  AMPLION_GATE_PICK(__VA_ARGS__, AMPLION_GATE_TYPED_3, AMPLION_GATE_TYPED_2,          \
                    AMPLION_GATE_TYPED_1, unused)(op, __VA_ARGS__)
#define AMPLION_GATE_TYPED_1(op, a) ::amplion::circuit::OperandOf<op, 0> a
#define AMPLION_GATE_TYPED_2(op, a, b) \
  AMPLION_GATE_TYPED_1(op, a), ::amplion::circuit::OperandOf<op, 1> b
#define AMPLION_GATE_TYPED_3(op, a, b, c) \
  AMPLION_GATE_TYPED_2(op, a, b), ::amplion::circuit::OperandOf<op, 2> c
