// ParallelFor: runs an item function over 0 .. count-1 on a few threads, the
// caller's included. Items are handed out in order, one at a time, so a slow
// item never holds up the others; what each item writes must be its own.
#pragma once

#include <stddef.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

// How many threads ParallelFor uses for count items.
inline unsigned ThreadsFor(size_t count, unsigned threads) {
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  return static_cast<unsigned>(std::min<size_t>(threads, std::max<size_t>(1, count)));
}

// threads 0: one per processor. work(thread, item) with thread in 0 .. used-1,
// so a caller can keep one context per thread.
template <class Work>
void ParallelFor(size_t count, unsigned threads, Work&& work) {
  threads = ThreadsFor(count, threads);
  std::atomic<size_t> next{0};
  auto run = [&](unsigned thread) {
    for (size_t i = next.fetch_add(1); i < count; i = next.fetch_add(1)) work(thread, i);
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(run, t);
  run(0);
  for (std::thread& t : pool) t.join();
}
