// The POSIX strerror_r, whichever variant the C library declares by default.
#pragma once

#include <cstddef>

namespace amplion::random {

// 0 when the text for `errnum` fits in `buf` (NUL-terminated); an error number otherwise.
int posix_strerror_r(int errnum, char* buf, std::size_t len) noexcept;

}  // namespace amplion::random
