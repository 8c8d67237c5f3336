// tsan_canary.cc -- two threads write one int without a lock.  Built only
// under ThreadSanitizer, whose report the test expects: it shows that the
// tsan stage would see a race, were one in the code it runs.
#include <thread>

namespace {
int shared_counter = 0;
}

int main() {
  std::thread other([] { ++shared_counter; });
  ++shared_counter;
  other.join();
  return 0;
}
