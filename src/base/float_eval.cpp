// Refuses at compile time any build whose double arithmetic does not round every operation to
// double: x87 code keeps intermediate results in 80 bits and rounds them once, later, so sums and
// products come out differently than on every other processor.
#include <cfloat>

#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
#error "amplion needs each double operation rounded to double (FLT_EVAL_METHOD 0), and this build evaluates in extended precision (x87); on 32-bit x86 compile with -msse2 -mfpmath=sse"
#endif
