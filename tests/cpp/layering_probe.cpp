// Compiled only by the layering tests, with AMPLION_PROBE_HEADER naming the header to include.
#include AMPLION_PROBE_HEADER
