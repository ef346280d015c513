// The POSIX strerror_r, which fails for an unknown errno or a short buffer. C++ compilers ask
// the C library for its GNU extensions, whose strerror_r returns a pointer and never fails; this
// unit alone asks for the standard one, so it must see <string.h> before any other header.
#undef _GNU_SOURCE
#define _POSIX_C_SOURCE 200112L
#include <string.h>

#include <type_traits>
#include <utility>

#include "random/strerror.h"

static_assert(std::is_same_v<decltype(strerror_r(0, std::declval<char*>(), 0)), int>,
              "the C library declared the GNU strerror_r");

namespace amplion::random {

int posix_strerror_r(int errnum, char* buf, std::size_t len) noexcept {
  return strerror_r(errnum, buf, len);
}

}  // namespace amplion::random
