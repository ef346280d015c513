// The engine's one way to raise an internal fault.
#include "engine/errors.h"

namespace amplion {

void fault(const std::string& message) { throw Fault(message); }

}  // namespace amplion
