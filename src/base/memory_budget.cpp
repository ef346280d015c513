// Reading and weighing the machine's, the cgroup's and the address space's memory limits.
#include "base/memory_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <new>
#include <sstream>
#include <string_view>

namespace amplion::base {
namespace {

std::optional<std::string> read_file(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::ostringstream out;
  out << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return out.str();
}

std::optional<std::uint64_t> parse_u64(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  std::uint64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end == text.data()) return std::nullopt;
  return value;
}

// The value after "<key>" at the start of a line ("MemAvailable:   123 kB", "inactive_file 5").
std::optional<std::uint64_t> field(std::string_view text, std::string_view key) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    std::string_view line = text.substr(pos, eol - pos);
    if (line.size() > key.size() && line.substr(0, key.size()) == key &&
        (line[key.size()] == ' ' || line[key.size()] == '\t')) {
      return parse_u64(line.substr(key.size()));
    }
    pos = eol + 1;
  }
  return std::nullopt;
}

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

std::uint64_t saturating_sub(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : 0; }

std::uint64_t kib(std::uint64_t k) { return k > UINT64_MAX / 1024 ? UINT64_MAX : k * 1024; }

// Path of this process's memory cgroup: the v1 memory controller's group where one is mounted
// (hybrid hierarchies keep memory there), else the v2 group ("0::/a/b").
std::optional<std::string> own_cgroup(bool& v2) {
  auto text = read_file("/proc/self/cgroup");
  if (!text) return std::nullopt;
  std::istringstream lines(*text);
  std::string line;
  std::optional<std::string> unified;
  while (std::getline(lines, line)) {
    const auto first = line.find(':');
    const auto second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    if (line.compare(0, first, "0") == 0 && controllers.empty()) {
      unified = line.substr(second + 1);
      continue;
    }
    std::istringstream names(controllers);
    std::string name;
    while (std::getline(names, name, ',')) {
      if (name == "memory") {
        v2 = false;
        return line.substr(second + 1);
      }
    }
  }
  v2 = true;
  return unified;
}

}  // namespace

std::optional<std::uint64_t> available_bytes(const MemorySnapshot& s) {
  std::optional<std::uint64_t> best;
  auto limit = [&best](std::uint64_t bytes) { best = best ? std::min(*best, bytes) : bytes; };

  if (s.meminfo) {
    if (auto avail = field(*s.meminfo, "MemAvailable:")) {
      limit(saturating_add(kib(*avail), kib(field(*s.meminfo, "SwapFree:").value_or(0))));
    }
  }
  for (const auto& level : s.cgroups) {
    if (!level.max || !level.current) continue;
    auto max = parse_u64(*level.max);  // "max" (no limit) does not parse
    auto current = parse_u64(*level.current);
    if (!max || !current) continue;
    std::uint64_t reclaimable = 0;
    if (level.stat) {
      reclaimable = field(*level.stat, "inactive_file").value_or(0);
    }
    limit(saturating_add(saturating_sub(*max, *current), reclaimable));
  }
  if (s.address_space_limit && s.address_space_used) {
    limit(saturating_sub(*s.address_space_limit, *s.address_space_used));
  }
  return best;
}

MemorySnapshot read_memory_snapshot() {
  MemorySnapshot s;
  s.meminfo = read_file("/proc/meminfo");

  bool v2 = false;
  if (auto group = own_cgroup(v2)) {
    const std::string root = v2 ? "/sys/fs/cgroup" : "/sys/fs/cgroup/memory";
    const char* max_name = v2 ? "/memory.max" : "/memory.limit_in_bytes";
    const char* current_name = v2 ? "/memory.current" : "/memory.usage_in_bytes";
    std::string path = *group;
    while (true) {
      while (path.size() > 1 && path.back() == '/') path.pop_back();
      const std::string dir = root + (path == "/" ? "" : path);
      s.cgroups.push_back({read_file(dir + max_name), read_file(dir + current_name),
                           read_file(dir + "/memory.stat")});
      if (path.empty() || path == "/") break;
      const auto slash = path.rfind('/');
      path = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
    }
  }

  rlimit as{};
  if (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY) {
    s.address_space_limit = as.rlim_cur;
    if (auto statm = read_file("/proc/self/statm")) {
      if (auto pages = parse_u64(*statm)) {
        const long page = sysconf(_SC_PAGESIZE);
        s.address_space_used = *pages * static_cast<std::uint64_t>(page > 0 ? page : 4096);
      }
    }
  }
  return s;
}

bool fits_in_memory(std::uint64_t bytes) noexcept {
  if (bytes <= kBudgetThreshold) return true;
  try {
    const auto available = available_bytes(read_memory_snapshot());
    return !available || bytes <= *available;
  } catch (const std::bad_alloc&) {
    // Reading /proc needs a few small strings; a heap that cannot give them has no room for a
    // large block either. The callers are noexcept, where an escaping throw would end the process.
    return false;
  }
}

}  // namespace amplion::base
