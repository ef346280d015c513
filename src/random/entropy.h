// Operating-system entropy: the getrandom system call, or /dev/urandom where the call is missing
// or forbidden. Internal to the random source; tests reach the system through the seam below.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace amplion::random {

// 0, a positive errno, or one of the two internal codes, which lie above every errno.
using EntropyCode = std::uint32_t;
inline constexpr EntropyCode kEntropyOk = 0;
inline constexpr EntropyCode kErrnoNotPositive = 0x8000'0001;
inline constexpr EntropyCode kUnexpectedSituation = 0x8000'0002;

inline constexpr char kErrnoNotPositiveText[] = "errno: did not return a positive value";
inline constexpr char kUnexpectedSituationText[] = "unexpected situation";

// Fills `dest` completely or returns why not. Safe to call from any thread.
EntropyCode getrandom_inner(std::span<std::uint8_t> dest) noexcept;

// strerror_r's text for an errno (128-byte buffer, cut at the first NUL), or
// "OS Error: <errno>" when strerror_r fails or the text is not valid UTF-8.
std::string entropy_error_text(EntropyCode code);

// The system calls behind getrandom_inner, each with its usual result and errno convention.
struct EntropyOps {
  ssize_t (*getrandom)(void* buf, std::size_t len, unsigned flags);
  int (*open)(const char* path, int flags);
  int (*poll)(pollfd* fds, nfds_t nfds, int timeout);
  ssize_t (*read)(int fd, void* buf, std::size_t len);
  int (*close)(int fd);
};

// Tests only.
namespace entropy_testing {

enum class Verdict { kUnknown, kAvailable, kUnavailable };

// The real system calls.
const EntropyOps& system_ops();
// Installs `ops` (which must outlive its use) and returns what was installed before.
const EntropyOps* install_ops(const EntropyOps* ops);
// Forgets the availability verdict and the fallback descriptor, without closing it.
void reset();
Verdict verdict();
int fallback_fd();

}  // namespace entropy_testing
}  // namespace amplion::random
