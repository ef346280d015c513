// Operating-system entropy through a substituted system: the getrandom path, the /dev/urandom
// fallback, every error rule and its text, and what from_entropy makes of them. One test runs
// the real fallback in a child process where a seccomp filter makes getrandom fail with ENOSYS.
#include <errno.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "engine/register.h"
#include "random/chacha.h"
#include "random/entropy.h"
#include "random/utf8.h"

namespace amplion::random {

using base::Fault;

namespace {

using entropy_testing::Verdict;

// One scripted result of a call: the return value and, when it is -1, the errno. A positive
// result of a fill call writes that many bytes, byte k of the whole request being k + 1.
struct Step {
  long result;
  int error = 0;
};

// A scripted system. Each call takes the next step of its script; an exhausted script means
// success (the whole request filled, a fresh descriptor, a readable poll).
struct FakeSystem {
  std::mutex mu;
  std::deque<Step> probe, getrandom, open, poll, read;
  std::vector<std::string> log;
  std::size_t request = 0;      // bytes of the current getrandom_inner call already handed out
  int next_fd = 100;
  std::chrono::microseconds open_delay{0};

  static FakeSystem& get() {
    static FakeSystem s;
    return s;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mu);
    probe.clear();
    getrandom.clear();
    open.clear();
    poll.clear();
    read.clear();
    log.clear();
    request = 0;
    next_fd = 100;
    open_delay = std::chrono::microseconds{0};
  }
  std::vector<std::string> take_log() {
    std::lock_guard<std::mutex> lock(mu);
    return std::exchange(log, {});
  }

  static std::optional<Step> pop(std::deque<Step>& q) {
    if (q.empty()) return std::nullopt;
    Step s = q.front();
    q.pop_front();
    return s;
  }
  ssize_t fill(std::deque<Step>& script, void* buf, std::size_t len) {
    const std::optional<Step> s = pop(script);
    const long r = s ? s->result : static_cast<long>(len);
    if (r == -1) {
      errno = s->error;
      return -1;
    }
    if (r > 0) {
      const std::size_t n = std::min(static_cast<std::size_t>(r), len);
      for (std::size_t k = 0; k < n; ++k) {
        static_cast<std::uint8_t*>(buf)[k] = static_cast<std::uint8_t>(request + k + 1);
      }
      request += n;
    }
    return r;
  }

  static ssize_t fake_getrandom(void* buf, std::size_t len, unsigned flags) {
    FakeSystem& f = get();
    std::lock_guard<std::mutex> lock(f.mu);
    f.log.push_back("getrandom " + std::to_string(len) + " " + std::to_string(flags));
    if (len == 0) {
      const std::optional<Step> s = pop(f.probe);
      if (s && s->result == -1) errno = s->error;
      return s ? s->result : 0;
    }
    return f.fill(f.getrandom, buf, len);
  }
  static int fake_open(const char* path, int flags) {
    FakeSystem& f = get();
    std::this_thread::sleep_for(f.open_delay);
    std::lock_guard<std::mutex> lock(f.mu);
    const bool expected_flags = flags == (O_RDONLY | O_CLOEXEC);
    f.log.push_back(std::string("open ") + path + (expected_flags ? "" : " with other flags"));
    const std::optional<Step> s = pop(f.open);
    if (s && s->result == -1) {
      errno = s->error;
      return -1;
    }
    return s ? static_cast<int>(s->result) : f.next_fd++;
  }
  static int fake_poll(pollfd* fds, nfds_t nfds, int timeout) {
    FakeSystem& f = get();
    std::lock_guard<std::mutex> lock(f.mu);
    f.log.push_back("poll " + std::to_string(fds[0].fd) + " " + std::to_string(nfds) + " " +
                    std::to_string(timeout) + (fds[0].events == POLLIN ? " POLLIN" : " ?"));
    const std::optional<Step> s = pop(f.poll);
    if (s && s->result == -1) errno = s->error;
    return s ? static_cast<int>(s->result) : 1;
  }
  static ssize_t fake_read(int fd, void* buf, std::size_t len) {
    FakeSystem& f = get();
    std::lock_guard<std::mutex> lock(f.mu);
    f.log.push_back("read " + std::to_string(fd) + " " + std::to_string(len));
    return f.fill(f.read, buf, len);
  }
  static int fake_close(int fd) {
    FakeSystem& f = get();
    std::lock_guard<std::mutex> lock(f.mu);
    f.log.push_back("close " + std::to_string(fd));
    return 0;
  }
};

constexpr EntropyOps kFakeOps{
    .getrandom = &FakeSystem::fake_getrandom,
    .open = &FakeSystem::fake_open,
    .poll = &FakeSystem::fake_poll,
    .read = &FakeSystem::fake_read,
    .close = &FakeSystem::fake_close,
};

class EntropySeam : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeSystem::get().clear();
    entropy_testing::reset();
    previous_ = entropy_testing::install_ops(&kFakeOps);
  }
  void TearDown() override {
    entropy_testing::install_ops(previous_);
    entropy_testing::reset();
  }
  FakeSystem& fake() { return FakeSystem::get(); }
  // Runs one 32-byte request from the start of a fresh fill.
  EntropyCode request(std::array<std::uint8_t, 32>& out) {
    fake().request = 0;
    out.fill(0);
    return getrandom_inner(out);
  }
  static bool filled_in_order(const std::array<std::uint8_t, 32>& out) {
    for (std::size_t k = 0; k < out.size(); ++k) {
      if (out[k] != k + 1) return false;
    }
    return true;
  }

 private:
  const EntropyOps* previous_ = nullptr;
};

TEST_F(EntropySeam, ProbeDecidesOnceWhetherGetrandomIsUsed) {
  struct Case {
    const char* name;
    Step probe;
    Verdict verdict;
  };
  const Case cases[] = {
      {"success", {0}, Verdict::kAvailable},
      {"ENOSYS", {-1, ENOSYS}, Verdict::kUnavailable},
      {"EPERM", {-1, EPERM}, Verdict::kUnavailable},
      {"another error still counts as available", {-1, EINVAL}, Verdict::kAvailable},
      {"EINTR is not retried by the probe", {-1, EINTR}, Verdict::kAvailable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake().clear();
    entropy_testing::reset();
    fake().probe.push_back(c.probe);
    std::array<std::uint8_t, 32> out{};
    ASSERT_EQ(request(out), kEntropyOk);
    EXPECT_TRUE(filled_in_order(out));
    EXPECT_EQ(entropy_testing::verdict(), c.verdict);
    ASSERT_EQ(request(out), kEntropyOk);
    const std::vector<std::string> log = fake().take_log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], "getrandom 0 0");
    EXPECT_EQ(std::count(log.begin(), log.end(), "getrandom 0 0"), 1) << "probed once";
    const bool used_getrandom = std::count(log.begin(), log.end(), "getrandom 32 0") == 2;
    EXPECT_EQ(used_getrandom, c.verdict == Verdict::kAvailable);
  }
}

// The fill rules, shared by getrandom and the descriptor read.
struct FillCase {
  const char* name;
  std::vector<Step> script;
  EntropyCode code;
  std::vector<std::size_t> requests;  // the lengths asked for, in order
};

const std::vector<FillCase>& fill_cases() {
  static const std::vector<FillCase> cases = {
      {"one call", {}, kEntropyOk, {32}},
      {"short results continue with the rest", {{5}, {10}, {1}}, kEntropyOk, {32, 27, 17, 16}},
      {"EINTR is retried", {{-1, EINTR}, {-1, EINTR}, {7}}, kEntropyOk, {32, 32, 32, 25}},
      {"more than asked for", {{4}, {29}}, kUnexpectedSituation, {32, 28}},
      {"zero", {{0}}, kUnexpectedSituation, {32}},
      {"below -1", {{-2}}, kUnexpectedSituation, {32}},
      {"errno 0", {{-1, 0}}, kErrnoNotPositive, {32}},
      {"negative errno", {{-1, -5}}, kErrnoNotPositive, {32}},
      {"EIO after a short result", {{8}, {-1, EIO}}, static_cast<EntropyCode>(EIO), {32, 24}},
      {"EAGAIN is an error here", {{-1, EAGAIN}}, static_cast<EntropyCode>(EAGAIN), {32}},
  };
  return cases;
}

TEST_F(EntropySeam, GetrandomFillRules) {
  for (const FillCase& c : fill_cases()) {
    SCOPED_TRACE(c.name);
    fake().clear();
    entropy_testing::reset();
    fake().getrandom.assign(c.script.begin(), c.script.end());
    std::array<std::uint8_t, 32> out{};
    EXPECT_EQ(request(out), c.code);
    if (c.code == kEntropyOk) {
      EXPECT_TRUE(filled_in_order(out));
    }
    std::vector<std::string> expected = {"getrandom 0 0"};
    for (std::size_t len : c.requests) expected.push_back("getrandom " + std::to_string(len) + " 0");
    EXPECT_EQ(fake().take_log(), expected);
  }
}

TEST_F(EntropySeam, FallbackReadFillRules) {
  for (const FillCase& c : fill_cases()) {
    SCOPED_TRACE(c.name);
    fake().clear();
    entropy_testing::reset();
    fake().probe.push_back({-1, ENOSYS});
    fake().read.assign(c.script.begin(), c.script.end());
    std::array<std::uint8_t, 32> out{};
    EXPECT_EQ(request(out), c.code);
    if (c.code == kEntropyOk) {
      EXPECT_TRUE(filled_in_order(out));
    }
    std::vector<std::string> expected = {"getrandom 0 0", "open /dev/random",
                                         "poll 100 1 -1 POLLIN", "close 100",
                                         "open /dev/urandom"};
    for (std::size_t len : c.requests) expected.push_back("read 101 " + std::to_string(len));
    EXPECT_EQ(fake().take_log(), expected);
    EXPECT_EQ(entropy_testing::fallback_fd(), 101) << "kept even when a read fails";
  }
}

TEST_F(EntropySeam, FallbackOpensOnceAndKeepsTheDescriptor) {
  fake().probe.push_back({-1, EPERM});
  fake().open.assign({{-1, EINTR}, {-1, EINTR}, {7}, {-1, EINTR}, {9}});
  fake().poll.assign({{-1, EINTR}, {-1, EAGAIN}, {1}});
  std::array<std::uint8_t, 32> out{};
  ASSERT_EQ(request(out), kEntropyOk);
  ASSERT_EQ(request(out), kEntropyOk);
  EXPECT_TRUE(filled_in_order(out));
  EXPECT_EQ(fake().take_log(),
            (std::vector<std::string>{"getrandom 0 0", "open /dev/random", "open /dev/random",
                                      "open /dev/random", "poll 7 1 -1 POLLIN",
                                      "poll 7 1 -1 POLLIN", "poll 7 1 -1 POLLIN", "close 7",
                                      "open /dev/urandom", "open /dev/urandom", "read 9 32",
                                      "read 9 32"}));
  EXPECT_EQ(entropy_testing::fallback_fd(), 9);
}

// A failure while opening leaves no descriptor and releases the mutex: the next call starts
// the opening over (on a held mutex it would deadlock instead).
TEST_F(EntropySeam, FallbackOpeningFailures) {
  struct Case {
    const char* name;
    std::vector<Step> open;
    std::vector<Step> poll;
    EntropyCode code;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {"/dev/random cannot be opened", {{-1, EACCES}}, {}, static_cast<EntropyCode>(EACCES),
       {"getrandom 0 0", "open /dev/random"}},
      {"open fails with errno 0", {{-1, 0}}, {}, kErrnoNotPositive,
       {"getrandom 0 0", "open /dev/random"}},
      {"poll fails: /dev/random is closed first", {}, {{-1, EBADF}},
       static_cast<EntropyCode>(EBADF),
       {"getrandom 0 0", "open /dev/random", "poll 100 1 -1 POLLIN", "close 100"}},
      {"/dev/urandom cannot be opened", {{100}, {-1, ENOENT}}, {},
       static_cast<EntropyCode>(ENOENT),
       {"getrandom 0 0", "open /dev/random", "poll 100 1 -1 POLLIN", "close 100",
        "open /dev/urandom"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake().clear();
    entropy_testing::reset();
    fake().probe.push_back({-1, ENOSYS});
    fake().open.assign(c.open.begin(), c.open.end());
    fake().poll.assign(c.poll.begin(), c.poll.end());
    std::array<std::uint8_t, 32> out{};
    EXPECT_EQ(request(out), c.code);
    EXPECT_EQ(fake().take_log(), c.log);
    EXPECT_EQ(entropy_testing::fallback_fd(), -1);
    ASSERT_EQ(request(out), kEntropyOk) << "a later call opens afresh";
    EXPECT_TRUE(filled_in_order(out));
    EXPECT_GE(entropy_testing::fallback_fd(), 100);
  }
}

TEST_F(EntropySeam, ConcurrentFirstUsesOpenTheDescriptorOnce) {
  std::array<EntropyCode, 8> codes{};
  // Threads that arrive before the verdict is stored each probe; every probe says ENOSYS.
  for (std::size_t t = 0; t < codes.size(); ++t) fake().probe.push_back({-1, ENOSYS});
  fake().open_delay = std::chrono::microseconds{2000};
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < codes.size(); ++t) {
    threads.emplace_back([&codes, t] {
      std::array<std::uint8_t, 16> out{};
      codes[t] = getrandom_inner(out);
    });
  }
  for (std::thread& t : threads) t.join();
  for (EntropyCode c : codes) EXPECT_EQ(c, kEntropyOk);
  const std::vector<std::string> log = fake().take_log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "open /dev/random"), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "open /dev/urandom"), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "read 101 16"), 8);
}

TEST(EntropyErrorText, ErrnoTextsAndInternalErrors) {
  struct Case {
    EntropyCode code;
    const char* text;
  };
  const Case cases[] = {
      {EIO, "Input/output error"},
      {ENOENT, "No such file or directory"},
      {EPERM, "Operation not permitted"},
      {4000, "OS Error: 4000"},  // no text: strerror_r fails
      {kErrnoNotPositive, "errno: did not return a positive value"},
      {kUnexpectedSituation, "unexpected situation"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(entropy_error_text(c.code), c.text);
  }
}

// A text that is not UTF-8 is shown as "OS Error: <errno>", so the check must refuse every
// malformed form and accept every well-formed one, at the edges of each length.
TEST(EntropyErrorText, Utf8CheckAtTheEdgesOfEachForm) {
  struct Case {
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {"Input/output error", true},
      {"\x7f", true},
      {"\xc2\x80", true},            // U+0080, the first two-byte character
      {"\xc1\xbf", false},           // U+007F written in two bytes
      {"\xe0\xa0\x80", true},        // U+0800
      {"\xe0\x9f\xbf", false},       // U+07FF written in three bytes
      {"\xed\x9f\xbf", true},        // U+D7FF
      {"\xed\xa0\x80", false},       // U+D800, a surrogate
      {"\xee\x80\x80", true},        // U+E000
      {"\xf0\x90\x80\x80", true},    // U+10000
      {"\xf0\x8f\xbf\xbf", false},   // U+FFFF written in four bytes
      {"\xf4\x8f\xbf\xbf", true},    // U+10FFFF
      {"\xf4\x90\x80\x80", false},   // above U+10FFFF
      {"\xf8\x88\x80\x80\x80", false},
      {"\x80", false},                // a continuation byte first
      {"ab\xe2\x82", false},          // cut short at the end
      {"\xe2\x28\xa1", false},        // a continuation byte missing inside
      {std::string("a\0b", 3), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    EXPECT_EQ(valid_utf8(c.bytes.data(), c.bytes.size()), c.valid);
  }
}

// The 32 entropy bytes are the key, read little-endian: the bytes of the seed-0 expansion
// therefore give the seed-0 stream.
TEST_F(EntropySeam, FromEntropyKeysTheGeneratorWithTheBytes) {
  static const std::uint8_t kSeed0KeyBytes[32] = {
      0xEC, 0xF2, 0x73, 0xF9, 0x81, 0xB5, 0xCD, 0x45, 0x87, 0xF0, 0x46, 0x73, 0x06, 0xAD, 0x6C, 0xAD,
      0xD0, 0xD0, 0xA3, 0xE3, 0x33, 0x17, 0xE7, 0x67, 0xF2, 0x9B, 0xEA, 0x72, 0xD7, 0x8A, 0x7D, 0xFE};
  struct Copy {
    static ssize_t getrandom(void* buf, std::size_t len, unsigned) {
      for (std::size_t k = 0; k < len; ++k) static_cast<std::uint8_t*>(buf)[k] = kSeed0KeyBytes[k];
      return static_cast<ssize_t>(len);
    }
  };
  EntropyOps ops = kFakeOps;
  ops.getrandom = &Copy::getrandom;
  entropy_testing::install_ops(&ops);
  ChaChaGenerator g = ChaChaGenerator::from_entropy();
  entropy_testing::install_ops(&kFakeOps);
  EXPECT_EQ(g.stream(), 0u);
  EXPECT_EQ(g.counter(), 0u);
  EXPECT_EQ(g.position(), 64u);
  EXPECT_EQ(g.draw_u64(), 0xBB2A3FB2CD2C6F7Fu);
  EXPECT_EQ(g.draw_u64(), 0xC6017C948E27697Bu);
}

TEST_F(EntropySeam, FromEntropyFailureIsAFaultAndNoRegisterIsMade) {
  struct Case {
    const char* name;
    std::vector<Step> getrandom;
    const char* message;
  };
  const Case cases[] = {
      {"an errno", {{-1, EIO}}, "from_entropy failed: Input/output error"},
      {"an internal error", {{0}}, "from_entropy failed: unexpected situation"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int via_register = 0; via_register < 2; ++via_register) {
      fake().getrandom.assign(c.getrandom.begin(), c.getrandom.end());
      try {
        if (via_register != 0) {
          (void)engine::Register::create(3, std::nullopt);
        } else {
          (void)ChaChaGenerator::from_entropy();
        }
        ADD_FAILURE() << "no fault";
      } catch (const Fault& f) {
        EXPECT_STREQ(f.what(), c.message);
      }
    }
  }
  // A seeded register asks the system for nothing.
  fake().take_log();
  auto reg = engine::Register::create(3, 9);
  ASSERT_TRUE(reg.ok());
  EXPECT_TRUE(fake().take_log().empty());
  EXPECT_EQ(reg.value().rng().draw_u64(), ChaChaGenerator::seed_from_u64(9).draw_u64());
}

TEST(EntropySystem, RealEntropyKeysDistinctGenerators) {
  ChaChaGenerator a = ChaChaGenerator::from_entropy();
  ChaChaGenerator b = ChaChaGenerator::from_entropy();
  EXPECT_NE(a.key(), b.key());
  EXPECT_NE(a.draw_u64(), b.draw_u64());
}

bool under_valgrind() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    if (line.find("vgpreload") != std::string::npos) return true;
  }
  return false;
}

#if defined(__SANITIZE_ADDRESS__)
#define AMPLION_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define AMPLION_UNDER_SANITIZER 1
#endif
#endif

// Child exit codes: 0 passed; 77 seccomp refused (skip); others name the failing check.
int fallback_child() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_getrandom, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (ENOSYS & SECCOMP_RET_DATA)),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{.len = sizeof filter / sizeof filter[0], .filter = filter};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return 77;
  if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) return 77;
  if (syscall(SYS_getrandom, nullptr, 0, 0) != -1 || errno != ENOSYS) return 2;

  entropy_testing::reset();
  std::array<std::uint8_t, 64> out{};
  if (getrandom_inner(out) != kEntropyOk) return 3;
  if (entropy_testing::verdict() != Verdict::kUnavailable) return 4;
  const int fd = entropy_testing::fallback_fd();
  if (fd < 0) return 5;
  char target[64] = {};
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  if (readlink(link.c_str(), target, sizeof target - 1) <= 0) return 6;
  if (std::string(target) != "/dev/urandom") return 7;
  if ((fcntl(fd, F_GETFD) & FD_CLOEXEC) == 0) return 8;
  bool all_zero = true;
  for (std::uint8_t b : out) all_zero = all_zero && b == 0;
  if (all_zero) return 9;
  ChaChaGenerator a = ChaChaGenerator::from_entropy();
  ChaChaGenerator b = ChaChaGenerator::from_entropy();
  if (a.key() == b.key()) return 10;
  if (entropy_testing::fallback_fd() != fd) return 11;  // opened once, then reused
  return 0;
}

TEST(EntropySystem, SeccompForcedFallbackReadsDevUrandom) {
#if defined(AMPLION_UNDER_SANITIZER)
  GTEST_SKIP() << "seccomp filter in a forked child is not run under sanitizers";
#endif
  if (under_valgrind()) GTEST_SKIP() << "not run under valgrind";
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) _exit(fallback_child());
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "seccomp filters are not permitted here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "child failed check " << WEXITSTATUS(status);
}

}  // namespace
}  // namespace amplion::random
