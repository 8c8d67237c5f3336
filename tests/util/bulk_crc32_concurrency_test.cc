// bulk_crc32_concurrency_test.cc -- bulk_crc called from many threads at once.
//
// The driver keeps no state between calls and reads the slots and kernels
// that the load-time constructor wrote, so threads that checksum and verify
// their own buffers, and threads that verify the same shared buffer, must
// each get exactly the words of the bitwise reference and their own reports,
// under every kernel tier of both types.  Built under ThreadSanitizer, the
// same runs show that no call writes shared state (a lazily made table or a
// kernel chosen on first use would show up there).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "crc_reference.h"
#include "engine_tiers.h"
#include "util/bulk_crc32.h"

namespace {

constexpr int kThreads = 8;  // more than the cores, so calls interleave
constexpr uint32_t kGuard = 0xA5A5A5A5;

// A buffer cut into chunks, with the reference words of its chunks.
struct job {
  int type;
  int chunk;
  const uint8_t *data;  // shared, read-only while threads run
  size_t len;
  std::vector<uint32_t> words;
};

// Shapes that reach the kernels' distinct paths: one-byte and odd chunks,
// the fixed sizes with loops of their own, counts past the verify batch,
// leftover and partial chunks, and data beyond the prefetch threshold both
// as many chunks and as one.
struct shape {
  int chunk;
  size_t len;
  size_t offset;
};
constexpr shape kShapes[] = {
    {1, 300, 3},
    {7, 7 * 20 + 3, 1},
    {64, 64 * 13, 5},
    {512, 512 * 100 + 17, 0},
    {1100, 1100 * 37 + 1, 7},
    {4096, 4096 * 9 + 100, 0},
    {65536, 65536 * 65 + 1, 2},
    {4 << 20, (4 << 20) + 3, 0},
};
constexpr size_t kLarge = 1 << 20;  // larger jobs go to one thread each

// Everything the threads share, made before any of them starts.
struct workload {
  std::vector<uint8_t> pool;
  std::vector<job> jobs;

  workload() {
    size_t size = 0;
    for (const shape &s : kShapes) size = std::max(size, s.offset + s.len);
    pool = reference::random_bytes(size, 77);
    for (int type : {CRC32C_POLYNOMIAL, CRC32_ZLIB_POLYNOMIAL})
      for (const shape &s : kShapes) {
        const uint8_t *p = pool.data() + s.offset;
        jobs.push_back({type, s.chunk, p, s.len,
                        reference::stored_words(type, p, s.len, static_cast<size_t>(s.chunk))});
      }
  }
};

const workload &shared_workload() {
  static const workload w;
  return w;
}

// What one thread saw; read by the main thread after the join.
struct thread_result {
  long checks = 0;
  std::vector<std::string> failures;
  void fail(const job &j, const std::string &what) {
    if (failures.size() < 5)
      failures.push_back("type " + std::to_string(j.type) + ", chunk " + std::to_string(j.chunk) +
                         ", length " + std::to_string(j.len) + ": " + what);
  }
};

// One thread's pass over its jobs: compute into its own words between
// guards, verify the shared buffer, and verify with one damaged byte (in its
// own copy of the data) or one damaged stored word (in its own copy of the
// words), checking the whole report.  Every thread takes every small job, so
// many verify the same shared buffer at once; a large job goes to one thread.
bool takes(const job &j, size_t ji, int id) {
  return j.len < kLarge || ji % kThreads == static_cast<size_t>(id);
}

void run_thread(int id, std::latch &start, thread_result &r) {
  const workload &w = shared_workload();
  // Private copies, made before the start so that the threads overlap in bulk_crc.
  std::vector<std::vector<uint8_t>> own_data(w.jobs.size());
  std::vector<std::vector<uint32_t>> own_words(w.jobs.size());
  for (size_t ji = 0; ji < w.jobs.size(); ++ji) {
    const job &j = w.jobs[ji];
    if (!takes(j, ji, id)) continue;
    own_data[ji].assign(j.data, j.data + j.len);
    own_words[ji] = j.words;
  }
  std::vector<uint32_t> sums;
  uint32_t mix = 0x9E3779B9u * static_cast<uint32_t>(id + 1);
  start.arrive_and_wait();

  for (size_t pass = 0; pass < w.jobs.size(); ++pass) {
    const size_t ji = (pass + static_cast<size_t>(id)) % w.jobs.size();
    if (!takes(w.jobs[ji], ji, id)) continue;
    const job &j = w.jobs[ji];
    const size_t n = j.words.size(), chunk = static_cast<size_t>(j.chunk);
    mix = mix * 1664525u + 1013904223u;

    sums.assign(n + 2, kGuard);
    if (bulk_crc(j.data, j.len, sums.data() + 1, j.type, j.chunk, nullptr) != BULK_CRC_OK)
      r.fail(j, "compute did not return OK");
    if (sums.front() != kGuard || sums.back() != kGuard) r.fail(j, "a guard word was written");
    if (!std::equal(j.words.begin(), j.words.end(), sums.begin() + 1))
      r.fail(j, "computed words differ from the reference");

    crc32_error_t err{1, 2, nullptr};
    if (bulk_crc(j.data, j.len, const_cast<uint32_t *>(j.words.data()), j.type, j.chunk, &err) !=
            BULK_CRC_OK ||
        err.got_crc != 1 || err.expected_crc != 2 || err.bad_data != nullptr)
      r.fail(j, "verifying the shared buffer failed or touched the record");

    // Damage: a data byte where the reference for the changed chunk is cheap
    // to recompute, otherwise (and for every other thread) a stored word.
    const size_t at = mix % j.len, i = at / chunk;
    const size_t chunk_len = std::min(chunk, j.len - i * chunk);
    err = crc32_error_t{};
    if ((ji + static_cast<size_t>(id)) % 2 == 0 && chunk_len <= 65536) {
      std::vector<uint8_t> &d = own_data[ji];
      const uint8_t flip = static_cast<uint8_t>(1u << (mix >> 29));
      d[at] ^= flip;
      const int rc = bulk_crc(d.data(), j.len, const_cast<uint32_t *>(j.words.data()), j.type,
                              j.chunk, &err);
      const uint32_t want_got = reference::stored_word(j.type, d.data() + i * chunk, chunk_len);
      d[at] ^= flip;
      if (rc != BULK_CRC_MISMATCH || err.bad_data != d.data() + i * chunk ||
          err.expected_crc != j.words[i] || err.got_crc != want_got)
        r.fail(j, "damaged byte " + std::to_string(at) + " misreported");
    } else {
      std::vector<uint32_t> &ws = own_words[ji];
      ws[i] ^= 1u << (mix >> 27);
      const int rc = bulk_crc(j.data, j.len, ws.data(), j.type, j.chunk, &err);
      if (rc != BULK_CRC_MISMATCH || err.bad_data != j.data + i * chunk ||
          err.expected_crc != ws[i] || err.got_crc != j.words[i])
        r.fail(j, "damaged word " + std::to_string(i) + " misreported");
      ws[i] = j.words[i];
    }
    r.checks += 3;
  }
}

TEST(EngineConcurrency, ThreadsComputeAndVerifyUnderEveryTier) {
  shared_workload();  // the reference words, before any thread exists
  tiers::restore_on_exit restore;
  const auto c_tiers = tiers::runnable(CRC32C_POLYNOMIAL);
  const auto z_tiers = tiers::runnable(CRC32_ZLIB_POLYNOMIAL);
  // Each round runs one tier of each type; together they run every tier.
  const size_t rounds = std::max(c_tiers.size(), z_tiers.size());
  for (size_t round = 0; round < rounds; ++round) {
    const tiers::tier_case &c = c_tiers[round % c_tiers.size()];
    const tiers::tier_case &z = z_tiers[round % z_tiers.size()];
    ASSERT_TRUE(tiers::force(c) && tiers::force(z));
    std::latch start(kThreads);
    std::vector<thread_result> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back(run_thread, t, std::ref(start), std::ref(results[t]));
    for (auto &t : threads) t.join();
    long checks = 0;
    for (int t = 0; t < kThreads; ++t) {
      checks += results[t].checks;
      for (const auto &f : results[t].failures)
        ADD_FAILURE() << c.label << " + " << z.label << ", thread " << t << ": " << f;
    }
    std::printf("%s + %s: %d threads, %ld checked calls\n", c.label.c_str(), z.label.c_str(), kThreads, checks);
  }
}

// The shared library loaded, used and unloaded by many threads at once: each
// call sees the kernels the constructor chose, since dlopen returns only
// after it has run, whichever thread brought the library in.  glibc makes
// loading and unloading one at a time under a lock of its own, which
// ThreadSanitizer does not see; the mutex here stands in for it, so that
// what it reports is about the calls, which run unserialised.
TEST(EngineConcurrency, LibraryLoadedAndUsedByManyThreads) {
  const auto data = reference::random_bytes(64 * 1024 + 5, 78);
  const auto want_c = reference::stored_words(CRC32C_POLYNOMIAL, data.data(), data.size(), 512);
  const auto want_z = reference::stored_words(CRC32_ZLIB_POLYNOMIAL, data.data(), data.size(), 512);
  std::latch start(kThreads);
  std::mutex loader;
  std::atomic<int> failures{0};
  std::atomic<int> load_failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      start.arrive_and_wait();
      for (int cycle = 0; cycle < 20; ++cycle) {
        void *lib;
        {
          std::lock_guard<std::mutex> hold(loader);
          lib = dlopen(ZELKOR_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        }
        if (lib == nullptr) {
          ++load_failures;
          continue;
        }
        auto fn = reinterpret_cast<decltype(&bulk_crc)>(dlsym(lib, "bulk_crc"));
        for (const auto &[type, want] : {std::pair{CRC32C_POLYNOMIAL, &want_c},
                                         std::pair{CRC32_ZLIB_POLYNOMIAL, &want_z}}) {
          std::vector<uint32_t> sums(want->size());
          crc32_error_t err{};
          if (fn == nullptr ||
              fn(data.data(), data.size(), sums.data(), type, 512, nullptr) != BULK_CRC_OK ||
              sums != *want ||
              fn(data.data(), data.size(), sums.data(), type, 512, &err) != BULK_CRC_OK)
            ++failures;
        }
        std::lock_guard<std::mutex> hold(loader);
        dlclose(lib);
      }
    });
  for (auto &t : threads) t.join();
  EXPECT_EQ(load_failures.load(), 0) << ZELKOR_LIBRARY_PATH << " would not load";
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
