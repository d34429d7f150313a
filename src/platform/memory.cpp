#include "platform/memory.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/pages.h"

namespace {

// A huge page normally arrives in well under a millisecond of processor
// time; a step that costs more than this means the kernel is compacting
// memory to find huge pages, and the rest of that block goes back to small
// pages.  Processor time, not wall time: a worker that merely waits for a
// busy core is no sign of compaction.
constexpr double CompactionStallSeconds = 0.02;

size_t roundUp(size_t n, size_t unit) { return (n + unit - 1) / unit * unit; }

// Bytes actually mapped for a request: whole huge pages for large blocks.
size_t mappedSize(size_t bytes) { return bytes >= HugePage ? roundUp(bytes, HugePage) : roundUp(bytes, SmallPage); }

// The background prefault of large blocks.  A fresh block costs a page fault
// per page on its first touch; for the tables that would be thousands of
// faults (and kernel page clearing) inside the first searches.  One worker
// thread walks every new block a huge page at a time and asks the kernel to
// populate it (populatePages: the pages are faulted in as a write would,
// their contents are never read or changed), so the start-up stays instant
// and a search that starts early only meets the pages not yet reached.  A
// thread that waits for the prefault (after an option resized the tables)
// populates steps of its own beside the worker, which nearly halves the wait
// where the system is slow to hand out memory.
//
// Steps are claimed under the mutex and populated without it: a step can
// take milliseconds, and the thread that allocates the next table must not
// wait for it.  `busy` names the block of each step in flight; freeZeroed
// waits until no step runs on its block and takes it out of the queue before
// unmapping it, so no one touches a block that is gone.  The state is never
// destroyed: the worker may still wait on it while the process exits.
struct PrefaultJob {
  char* start;
  size_t size;
  size_t claimed;  // bytes handed out to steps so far
};

// The places that may populate at once: the worker and one waiting thread.
enum PrefaultSlot { WorkerSlot, WaiterSlot, SlotCount };

struct PrefaultQueue {
  static constexpr int Capacity = 256;
  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable stepDone;  // signalled when a step ends
  PrefaultJob jobs[Capacity];
  int count = 0;
  const char* busy[SlotCount] = {};  // the block of each step in flight
  int cancelling = 0;                // threads waiting to take a block out
  bool workerStarted = false;
  bool unsupported = false;  // the system cannot populate pages
};

PrefaultQueue& prefaultQueue() {
  static PrefaultQueue* queue = new PrefaultQueue;
  return *queue;
}

// Steps go out from job 0: the others keep their order.
void removeJob(PrefaultQueue& q, int i) {
  for (int j = i; j + 1 < q.count; j++) q.jobs[j] = q.jobs[j + 1];
  q.count--;
}

bool stepInFlight(const PrefaultQueue& q, const void* block) {
  for (const char* b : q.busy)
    if (b && b == block) return true;
  return false;
}

bool allDone(const PrefaultQueue& q) { return q.count == 0 && !q.busy[WorkerSlot] && !q.busy[WaiterSlot]; }

// Whether `slot` may take a step now: a thread waiting to take a block out
// goes first.
bool canClaim(const PrefaultQueue& q, int slot) { return q.count > 0 && q.cancelling == 0 && !q.busy[slot]; }

// Claims the next huge page of the first queued block for `slot` and
// populates it.  Called with the lock held (and canClaim true); releases it
// for the populate itself.
void prefaultStep(PrefaultQueue& q, std::unique_lock<std::mutex>& lock, int slot) {
  PrefaultJob& job = q.jobs[0];
  char* const block = job.start;
  char* const from = job.start + job.claimed;
  const size_t step = job.size - job.claimed < HugePage ? job.size - job.claimed : HugePage;
  job.claimed += step;
  if (job.claimed == job.size) removeJob(q, 0);
  q.busy[slot] = block;
  lock.unlock();
  const double begin = threadCpuSeconds();
  const bool populated = populatePages(from, step) != PopulateResult::Unsupported;
  const bool stalled = threadCpuSeconds() - begin > CompactionStallSeconds;
  lock.lock();
  q.busy[slot] = nullptr;
  q.stepDone.notify_all();
  if (!populated) {
    // An old kernel, or a system without the call: the searches
    // fault the pages in themselves, as without this worker.
    q.unsupported = true;
    q.count = 0;
  } else if (stalled) {
    // The rest of this block, if still queued, goes back to small pages.
    for (int i = 0; i < q.count; i++)
      if (q.jobs[i].start == block) {
        useSmallPages(block + q.jobs[i].claimed, q.jobs[i].size - q.jobs[i].claimed);
        break;
      }
  }
}

void prefaultWorker() {
  PrefaultQueue& q = prefaultQueue();
  std::unique_lock<std::mutex> lock(q.mutex);
  for (;;) {
    q.wake.wait(lock, [&] { return canClaim(q, WorkerSlot); });
    prefaultStep(q, lock, WorkerSlot);
  }
}

// Queues a fresh large block for the worker, starting it the first time.
// A full queue or a thread the system refuses only skips the prefault.
void queuePrefault(char* start, size_t size) {
  PrefaultQueue& q = prefaultQueue();
  std::lock_guard<std::mutex> lock(q.mutex);
  if (q.unsupported || q.count == PrefaultQueue::Capacity) return;
  if (!q.workerStarted) {
    try {
      std::thread(prefaultWorker).detach();
    } catch (const std::system_error&) {
      q.unsupported = true;
      return;
    }
    q.workerStarted = true;
  }
  q.jobs[q.count++] = PrefaultJob{start, size, 0};
  q.wake.notify_one();
}

// Takes a block out of the queue, first waiting for the steps that run on
// it to end.
void cancelPrefault(void* block) {
  PrefaultQueue& q = prefaultQueue();
  std::unique_lock<std::mutex> lock(q.mutex);
  q.cancelling++;
  q.stepDone.wait(lock, [&] { return !stepInFlight(q, block); });
  q.cancelling--;
  for (int i = 0; i < q.count; i++)
    if (q.jobs[i].start == block) {
      removeJob(q, i);
      break;
    }
  q.wake.notify_one();
  q.stepDone.notify_all();  // a waiter may take steps again
}

}  // namespace

void* allocateZeroed(uint64_t bytes) {
  if (bytes == 0) bytes = 1;
  // Rounded up to whole huge pages the size must still fit a size_t.
  if (bytes > SIZE_MAX - HugePage) return nullptr;
  const size_t size = mappedSize(bytes);
  if (size < HugePage) return mapSmallBlock(size);
  bool populate = false;
  void* block = mapLargeBlock(size, &populate);
  if (block && populate) queuePrefault((char*)block, size);
  return block;
}

void waitForPrefault(bool (*giveUp)()) {
  PrefaultQueue& q = prefaultQueue();
  std::unique_lock<std::mutex> lock(q.mutex);
  while (!allDone(q) && !(giveUp && giveUp())) {
    if (canClaim(q, WaiterSlot))
      prefaultStep(q, lock, WaiterSlot);
    else
      q.stepDone.wait(lock);
  }
}

void freeZeroed(void* block, size_t bytes) {
  if (!block) return;
  if (bytes == 0) bytes = 1;
  const size_t size = mappedSize(bytes);
  if (size >= HugePage) cancelPrefault(block);
  unmapBlock(block, size);
}
