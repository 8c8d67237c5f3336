// peers.cc -- bulk_crc against generic checksum libraries, one CRC per chunk.
//
// Every implementation computes the CRC of each chunk of a buffer; its words
// are checked against a plain table CRC (built here from the polynomial)
// before it is timed.  A row's figure is the median over rounds of GB/s
// (10^9 bytes per second of the thread's processor time, since the machine
// may be shared), each round running whole passes for at least kRoundSeconds.  The JDK's figures come from the Java harness
// (PeerCrc.java), run beforehand on the same data and handed in with --jdk:
// its words are checked through a digest of them.
//
// Beside GB/s, bulk_crc's figure in bytes per core cycle: before each of its
// rounds the core clock is measured on the same thread CPU time, so that
// rows stay comparable while the clock and the neighbours vary.
//
// Run it through scripts/bench-peers.sh; it is no test.
#include <arpa/inet.h>
#include <cpuid.h>
#include <isa-l/crc.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <time.h>

#include "util/bulk_crc32.h"
#include "util/crc/tiers.h"

namespace {

constexpr int kRounds = 9;
constexpr double kRoundSeconds = 0.05;
constexpr size_t KiB = 1024, MiB = 1024 * KiB;

struct row {
  int type;
  size_t chunk;
  size_t total;
};

// Kept in step with PeerCrc.java.
std::vector<row> rows() {
  std::vector<row> r;
  for (int type : {CRC32C_POLYNOMIAL, CRC32_ZLIB_POLYNOMIAL}) {
    r.push_back({type, 512, 16 * KiB});
    r.push_back({type, 512, 1 * MiB});
    r.push_back({type, 512, 256 * MiB});
    r.push_back({type, 64, 16 * KiB});
    r.push_back({type, 4096, 16 * KiB});
    r.push_back({type, 16384, 16 * KiB});
    r.push_back({type, 64 * MiB, 64 * MiB});
  }
  return r;
}

// The data of every row: splitmix64 outputs, stored little-endian (the Java
// harness makes the same bytes).
void fill(uint8_t *p, size_t n) {
  uint64_t s = 0x5EED;
  for (size_t i = 0; i < n; i += 8) {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    for (int b = 0; b < 8 && i + b < n; ++b) p[i + b] = static_cast<uint8_t>(z >> (8 * b));
  }
}

// Reference: one byte per step, table built from the reflected polynomial.
uint32_t reference_crc(int type, const uint8_t *p, size_t n) {
  static const auto tables = [] {
    std::array<std::array<uint32_t, 256>, 2> t{};
    const uint32_t polys[2] = {0x82F63B78u, 0xEDB88320u};
    for (int k = 0; k < 2; ++k)
      for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int b = 0; b < 8; ++b) c = (c >> 1) ^ ((c & 1) ? polys[k] : 0);
        t[k][i] = c;
      }
    return t;
  }();
  const auto &t = tables[type == CRC32C_POLYNOMIAL ? 0 : 1];
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) c = (c >> 8) ^ t[(c ^ p[i]) & 0xFF];
  return ~c;
}

// An implementation leaves the CRC of chunk i in words[i] (bulk_crc leaves
// the stored form; see as_crc).
using impl_fn = void (*)(int type, const uint8_t *d, size_t total, size_t chunk,
                         uint32_t *words);

void run_bulk_crc(int type, const uint8_t *d, size_t total, size_t chunk, uint32_t *words) {
  if (bulk_crc(d, total, words, type, static_cast<int>(chunk), nullptr) != 0) std::abort();
}

void run_isal(int type, const uint8_t *d, size_t total, size_t chunk, uint32_t *words) {
  for (size_t off = 0; off < total; off += chunk) {
    const size_t n = std::min(chunk, total - off);
    // crc32_iscsi neither presets nor inverts; crc32_gzip_refl does both.
    *words++ = type == CRC32C_POLYNOMIAL
                   ? ~crc32_iscsi(const_cast<uint8_t *>(d + off), static_cast<int>(n), ~0u)
                   : crc32_gzip_refl(0, d + off, n);
  }
}

void run_zlib(int, const uint8_t *d, size_t total, size_t chunk, uint32_t *words) {
  for (size_t off = 0; off < total; off += chunk) {
    const size_t n = std::min(chunk, total - off);
    *words++ = static_cast<uint32_t>(crc32_z(0, d + off, n));
  }
}

struct impl {
  const char *name;
  impl_fn fn;
  bool stored_form;
  bool has_crc32c;
};
constexpr impl kImpls[] = {
    {"bulk_crc", run_bulk_crc, true, true},
    {"ISA-L", run_isal, false, true},
    {"zlib", run_zlib, false, false},
};

uint64_t digest(const std::vector<uint32_t> &crcs) {
  uint64_t h = 0xCBF29CE484222325ull;  // FNV-1a over the words' values
  for (uint32_t w : crcs) {
    h ^= w;
    h *= 0x100000001B3ull;
  }
  return h;
}

// Thread CPU time: the machine is shared, and time spent descheduled is not
// the implementation's.
double cpu_seconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// One round: whole passes for at least kRoundSeconds; GB/s.  The clock is a
// system call, so it is read once per batch of passes of at least 4 MiB.
double round_gbps(impl_fn fn, const row &r, const uint8_t *d, uint32_t *words) {
  const size_t batch = std::max<size_t>(1, 4 * MiB / r.total);
  const double t0 = cpu_seconds();
  size_t passes = 0;
  double s;
  do {
    for (size_t i = 0; i < batch; ++i) fn(r.type, d, r.total, r.chunk, words);
    passes += batch;
  } while ((s = cpu_seconds() - t0) < kRoundSeconds);
  return static_cast<double>(passes * r.total) / s / 1e9;
}

// The core clock in GHz: a chain of dependent one-cycle adds, in assembly
// because the compiler would fold a loop of adds into one.
double core_ghz() {
  constexpr long kRepeats = 100000;  // of 100 adds each: about 3 ms
  const double t0 = cpu_seconds();
  uint64_t x = 0;
  for (long i = 0; i < kRepeats; ++i) {
#if defined(__x86_64__)
    asm volatile(".rept 100\n\taddq $1, %0\n\t.endr" : "+r"(x));
#elif defined(__aarch64__)
    asm volatile(".rept 100\n\tadd %0, %0, #1\n\t.endr" : "+r"(x));
#else
#error "no add chain for this architecture"
#endif
  }
  return static_cast<double>(kRepeats) * 100 / (cpu_seconds() - t0) / 1e9;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string processor_model() {
  std::string model = "unknown";
  if (FILE *f = std::fopen("/proc/cpuinfo", "r")) {
    char line[512];
    while (std::fgets(line, sizeof line, f))
      if (std::strncmp(line, "model name", 10) == 0) {
        const char *v = std::strchr(line, ':');
        if (v) model = v + 2;
        model.erase(model.find_last_not_of("\n") + 1);
        break;
      }
    std::fclose(f);
  }
  unsigned a, b, c, d;
  __cpuid(1, a, b, c, d);
  unsigned family = (a >> 8) & 0xF, mdl = (a >> 4) & 0xF;
  if (family == 0xF) family += (a >> 20) & 0xFF;
  if (family >= 6) mdl |= ((a >> 16) & 0xF) << 4;
  char buf[96];
  std::snprintf(buf, sizeof buf, " (family %u, model %u)", family, mdl);
  return model + buf;
}

struct jdk_result {
  row r;
  uint64_t digest;
  double gbps;
};

// Lines of the Java harness: "TYPE CHUNK TOTAL DIGEST GBPS".
std::vector<jdk_result> read_jdk(const char *path) {
  std::vector<jdk_result> out;
  FILE *f = std::fopen(path, "r");
  if (!f) {
    std::perror(path);
    std::exit(2);
  }
  jdk_result j{};
  unsigned long long digest;
  while (std::fscanf(f, "%d %zu %zu %llx %lf", &j.r.type, &j.r.chunk, &j.r.total, &digest,
                     &j.gbps) == 5) {
    j.digest = digest;
    out.push_back(j);
  }
  std::fclose(f);
  return out;
}

std::string size_text(size_t n) {
  char b[32];
  if (n >= MiB && n % MiB == 0)
    std::snprintf(b, sizeof b, "%zu MiB", n / MiB);
  else if (n >= KiB && n % KiB == 0)
    std::snprintf(b, sizeof b, "%zu KiB", n / KiB);
  else
    std::snprintf(b, sizeof b, "%zu B", n);
  return b;
}

}  // namespace

int main(int argc, char **argv) {
  const char *jdk_path = nullptr;
  bool only_short = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--jdk") == 0 && i + 1 < argc)
      jdk_path = argv[++i];
    else if (std::strcmp(argv[i], "--short") == 0)
      only_short = true;  // skip the rows over 1 MiB (quick looks while tuning)
    else {
      std::fprintf(stderr, "usage: %s [--jdk RESULTS] [--short]\n", argv[0]);
      return 2;
    }
  }
  const std::vector<jdk_result> jdk = jdk_path ? read_jdk(jdk_path) : std::vector<jdk_result>{};

  const size_t max_total = 256 * MiB;
  auto *data = static_cast<uint8_t *>(std::aligned_alloc(64, max_total));
  fill(data, max_total);
  std::vector<uint32_t> words(max_total / 64 + 1);

  std::printf("processor: %s\n", processor_model().c_str());
  std::printf("bulk_crc tiers: CRC32C %s; CRC-32 %s\n",
              zelkor::tier_name(zelkor::tier_in_force(zelkor::crc_poly::crc32c)),
              zelkor::tier_name(zelkor::tier_in_force(zelkor::crc_poly::crc32_zlib)));
  std::printf("GB/s (per second of thread CPU time), median of %d rounds; ratio = bulk_crc / best peer;\n"
              "B/c = bulk_crc's bytes per core cycle, the clock measured before each round\n\n",
              kRounds);
  std::printf("%-7s %8s %8s | %9s %8s %8s %8s | %6s %6s\n", "type", "chunk", "data", "bulk_crc",
              "ISA-L", "zlib", "JDK", "ratio", "B/c");
  bool all_right = true;
  for (const row &r : rows()) {
    if (only_short && r.total > 1 * MiB) continue;
    std::vector<uint32_t> want;
    for (size_t off = 0; off < r.total; off += r.chunk)
      want.push_back(reference_crc(r.type, data + off, std::min(r.chunk, r.total - off)));
    const size_t n_words = want.size();

    // Check every implementation first; then time the right ones round by
    // round, in turn, so that a busy moment of the machine hits them all.
    constexpr size_t kN = std::size(kImpls);
    enum { absent, wrong, timed } state[kN];
    std::vector<double> rates[kN], bytes_per_cycle;
    for (size_t i = 0; i < kN; ++i) {
      const impl &im = kImpls[i];
      if (r.type == CRC32C_POLYNOMIAL && !im.has_crc32c) {
        state[i] = absent;
        continue;
      }
      std::fill(words.begin(), words.begin() + n_words, 0);
      im.fn(r.type, data, r.total, r.chunk, words.data());
      bool right = true;
      for (size_t w = 0; w < n_words; ++w) {
        const uint32_t crc = im.stored_form ? ntohl(words[w]) : words[w];
        right = right && crc == want[w];
      }
      state[i] = right ? timed : wrong;
      all_right = all_right && right;
    }
    for (int round = 0; round < kRounds; ++round)
      for (size_t i = 0; i < kN; ++i) {
        if (state[i] != timed) continue;
        const bool ours = kImpls[i].fn == run_bulk_crc;
        const double ghz = ours ? core_ghz() : 0;
        rates[i].push_back(round_gbps(kImpls[i].fn, r, data, words.data()));
        if (ours) bytes_per_cycle.push_back(rates[i].back() / ghz);
      }

    std::string cells;
    double ours = 0, best_peer = 0;
    for (size_t i = 0; i < kN; ++i) {
      char cell[32];
      if (state[i] == absent) {
        std::snprintf(cell, sizeof cell, " %8s", "-");
      } else if (state[i] == wrong) {
        std::snprintf(cell, sizeof cell, " %8s", "WRONG");
      } else {
        const double g = median(rates[i]);
        std::snprintf(cell, sizeof cell, " %8.2f", g);
        if (kImpls[i].fn == run_bulk_crc)
          ours = g;
        else
          best_peer = std::max(best_peer, g);
      }
      cells += cell;
      if (kImpls[i].fn == run_bulk_crc) cells += " ";
    }
    // The JDK's row, if the harness ran.
    std::string jcell = "       -";
    for (const jdk_result &j : jdk)
      if (j.r.type == r.type && j.r.chunk == r.chunk && j.r.total == r.total) {
        char cell[32];
        if (j.digest != digest(want)) {
          all_right = false;
          std::snprintf(cell, sizeof cell, "%8s", "WRONG");
        } else {
          std::snprintf(cell, sizeof cell, "%8.2f", j.gbps);
          best_peer = std::max(best_peer, j.gbps);
        }
        jcell = cell;
      }
    std::printf("%-7s %8s %8s |%s %s | %5.2fx %6.2f\n",
                r.type == CRC32C_POLYNOMIAL ? "CRC32C" : "CRC-32", size_text(r.chunk).c_str(),
                size_text(r.total).c_str(), cells.c_str(), jcell.c_str(),
                best_peer > 0 ? ours / best_peer : 0.0,
                bytes_per_cycle.empty() ? 0.0 : median(bytes_per_cycle));
    std::fflush(stdout);
  }
  std::free(data);
  if (!all_right) {
    std::printf("\nsome implementation gave wrong words (marked WRONG)\n");
    return 1;
  }
  return 0;
}
