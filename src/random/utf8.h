// A strict UTF-8 check for the texts the C library hands us in a locale we do not choose.
#pragma once

#include <cstddef>

namespace amplion::random {

// True when the n bytes at s are well-formed UTF-8: no overlong forms, no surrogates, nothing
// above U+10FFFF and no sequence cut short. NUL bytes count as characters.
bool valid_utf8(const char* s, std::size_t n) noexcept;

}  // namespace amplion::random
