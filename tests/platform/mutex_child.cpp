// mutex_child NAME WAIT_MS: opens the named mutex, prints "existed 0|1",
// waits for it up to WAIT_MS (-1: without limit), prints "owned 0|1", and
// then holds on until it is killed (a minute at most).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/mutex.h"

int main(int argc, char** argv) {
  if (argc != 3) return 64;
  bool existed = false;
  platform::MutexHandle h = platform::CreateNamedMutex(argv[1], existed);
  if (h == nullptr) {
    std::printf("failed\n");
    return 1;
  }
  std::printf("existed %d\n", existed ? 1 : 0);
  std::fflush(stdout);
  bool owned = platform::WaitNamedMutex(h, std::atoi(argv[2]));
  std::printf("owned %d\n", owned ? 1 : 0);
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::seconds(60));
  return 0;
}
