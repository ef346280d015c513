// Operating-system entropy on Linux: the getrandom system call with flags 0; where the call is
// missing (ENOSYS) or forbidden (EPERM), one process-wide /dev/urandom descriptor, opened after
// /dev/random has polled readable (so the pool is initialised) and never closed.
#include "random/entropy.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "random/strerror.h"
#include "random/utf8.h"

namespace amplion::random {
namespace {

ssize_t sys_getrandom(void* buf, std::size_t len, unsigned flags) {
  return static_cast<ssize_t>(::syscall(SYS_getrandom, buf, len, flags));
}
int sys_open(const char* path, int flags) { return ::open(path, flags); }
int sys_poll(pollfd* fds, nfds_t nfds, int timeout) { return ::poll(fds, nfds, timeout); }
ssize_t sys_read(int fd, void* buf, std::size_t len) { return ::read(fd, buf, len); }
int sys_close(int fd) { return ::close(fd); }

constexpr EntropyOps kSystemOps{
    .getrandom = &sys_getrandom,
    .open = &sys_open,
    .poll = &sys_poll,
    .read = &sys_read,
    .close = &sys_close,
};

enum : int { kVerdictUnknown, kVerdictAvailable, kVerdictUnavailable };

// All constant-initialised: no constructor runs at load.
std::atomic<const EntropyOps*> g_ops{&kSystemOps};
std::atomic<int> g_verdict{kVerdictUnknown};
std::atomic<int> g_fd{-1};
std::mutex g_fd_mutex;  // held only while the descriptor is being opened

constexpr char kDevRandom[] = "/dev/random";
constexpr char kDevUrandom[] = "/dev/urandom";
constexpr std::size_t kErrorTextBytes = 128;

EntropyCode errno_code() {
  const int e = errno;
  return e > 0 ? static_cast<EntropyCode>(e) : kErrnoNotPositive;
}

// Calls `fill(ptr, len)` on the unfilled rest until nothing is left. A positive result is the
// number of bytes written; -1 with EINTR is retried; anything else ends the fill.
template <class Fill>
EntropyCode fill_all(std::span<std::uint8_t> dest, Fill fill) {
  std::size_t done = 0;
  while (done < dest.size()) {
    const std::size_t remaining = dest.size() - done;
    const ssize_t got = fill(dest.data() + done, remaining);
    if (got > 0) {
      if (static_cast<std::size_t>(got) > remaining) return kUnexpectedSituation;
      done += static_cast<std::size_t>(got);
    } else if (got == -1) {
      if (errno == EINTR) continue;
      return errno_code();
    } else {
      return kUnexpectedSituation;
    }
  }
  return kEntropyOk;
}

// Probes with an empty request once per process. Two threads may both probe; they reach the
// same verdict.
bool getrandom_available(const EntropyOps& ops) {
  int verdict = g_verdict.load(std::memory_order_acquire);
  if (verdict == kVerdictUnknown) {
    verdict = kVerdictAvailable;
    if (ops.getrandom(nullptr, 0, 0) < 0) {
      const int e = errno;
      if (e == ENOSYS || e == EPERM) verdict = kVerdictUnavailable;
    }
    g_verdict.store(verdict, std::memory_order_release);
  }
  return verdict == kVerdictAvailable;
}

EntropyCode open_read_only(const EntropyOps& ops, const char* path, int& fd) {
  for (;;) {
    fd = ops.open(path, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) return kEntropyOk;
    if (errno != EINTR) return errno_code();
  }
}

// Blocks until the kernel's pool is initialised, which is when /dev/random turns readable.
EntropyCode wait_readable(const EntropyOps& ops, int fd) {
  pollfd request{.fd = fd, .events = POLLIN, .revents = 0};
  for (;;) {
    if (ops.poll(&request, 1, -1) >= 0) return kEntropyOk;
    const int e = errno;
    if (e != EINTR && e != EAGAIN) return errno_code();
  }
}

// The shared descriptor, opened at most once: looked up again under the mutex, so a caller
// that lost the race uses the winner's descriptor. Readers after that take no lock.
EntropyCode urandom_descriptor(const EntropyOps& ops, int& fd) {
  fd = g_fd.load(std::memory_order_acquire);
  if (fd >= 0) return kEntropyOk;
  std::lock_guard<std::mutex> lock(g_fd_mutex);
  fd = g_fd.load(std::memory_order_acquire);
  if (fd >= 0) return kEntropyOk;

  int random_fd = -1;
  EntropyCode code = open_read_only(ops, kDevRandom, random_fd);
  if (code != kEntropyOk) return code;
  code = wait_readable(ops, random_fd);
  ops.close(random_fd);
  if (code != kEntropyOk) return code;
  code = open_read_only(ops, kDevUrandom, fd);
  if (code != kEntropyOk) return code;
  g_fd.store(fd, std::memory_order_release);
  return kEntropyOk;
}

}  // namespace

EntropyCode getrandom_inner(std::span<std::uint8_t> dest) noexcept {
  const EntropyOps& ops = *g_ops.load(std::memory_order_acquire);
  if (getrandom_available(ops)) {
    return fill_all(dest, [&ops](std::uint8_t* p, std::size_t n) { return ops.getrandom(p, n, 0); });
  }
  int fd = -1;
  const EntropyCode code = urandom_descriptor(ops, fd);
  if (code != kEntropyOk) return code;
  return fill_all(dest, [&ops, fd](std::uint8_t* p, std::size_t n) { return ops.read(fd, p, n); });
}

std::string entropy_error_text(EntropyCode code) {
  if (code == kErrnoNotPositive) return kErrnoNotPositiveText;
  if (code == kUnexpectedSituation) return kUnexpectedSituationText;
  const int errnum = static_cast<int>(code);
  char buf[kErrorTextBytes] = {};
  if (posix_strerror_r(errnum, buf, sizeof buf) == 0) {
    std::size_t n = 0;
    while (n < sizeof buf && buf[n] != '\0') ++n;
    if (valid_utf8(buf, n)) return std::string(buf, n);
  }
  return "OS Error: " + std::to_string(errnum);
}

namespace entropy_testing {

const EntropyOps& system_ops() { return kSystemOps; }

const EntropyOps* install_ops(const EntropyOps* ops) {
  return g_ops.exchange(ops, std::memory_order_acq_rel);
}

void reset() {
  g_verdict.store(kVerdictUnknown, std::memory_order_release);
  g_fd.store(-1, std::memory_order_release);
}

Verdict verdict() {
  switch (g_verdict.load(std::memory_order_acquire)) {
    case kVerdictAvailable:
      return Verdict::kAvailable;
    case kVerdictUnavailable:
      return Verdict::kUnavailable;
    default:
      return Verdict::kUnknown;
  }
}

int fallback_fd() { return g_fd.load(std::memory_order_acquire); }

}  // namespace entropy_testing
}  // namespace amplion::random
