// Named segments, mutexes, semaphores, conditions, waiters and the spin lock, exercised on real
// shared memory, with child processes where the behaviour crosses processes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "ipc_sync.h"
#include "ipc_test_support.h"
#include "shm.h"

using namespace ipc_test;
using ipc::shm::handle;

namespace {

std::string shm_path(const std::string& name) { return "/dev/shm/__IPC_SHM__" + name; }

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::int32_t read_counter(const std::string& cond_name) {
  handle h(("_cond_shm_" + cond_name).c_str(), 4);
  return h.valid() ? __atomic_load_n(static_cast<std::int32_t*>(h.get()), __ATOMIC_ACQUIRE) : -999;
}

void write_counter(const std::string& cond_name, std::int32_t v) {
  handle h(("_cond_shm_" + cond_name).c_str(), 4);
  ASSERT_TRUE(h.valid());
  __atomic_store_n(static_cast<std::int32_t*>(h.get()), v, __ATOMIC_RELEASE);
}

// Polls `pred` for up to `ms` milliseconds.
template <typename Pred>
bool eventually(Pred pred, int ms = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return pred();
}

}  // namespace

TEST(Segment, TwoProcessesShareBytesInCreateOrOpenMode) {
  std::string name = unique_name("seg");
  handle mine;
  ASSERT_TRUE(mine.acquire(name.c_str(), 4096, ipc::shm::SHM_CREATE_OR_OPEN));
  auto* words = static_cast<std::uint32_t*>(mine.get());
  EXPECT_EQ(mine.size(), 4096u);
  for (int i = 0; i < 1024; ++i) ASSERT_EQ(words[i], 0u) << "a new segment is zero-filled";
  __atomic_store_n(&words[0], 0xC0FFEEu, __ATOMIC_RELEASE);

  child_process child([&](int) {
    handle theirs;
    // Another size is asked for: the existing segment keeps its own.
    if (!theirs.acquire(name.c_str(), 16, ipc::shm::SHM_CREATE_OR_OPEN)) return 1;
    if (theirs.size() != 4096) return 2;
    auto* w = static_cast<std::uint32_t*>(theirs.get());
    if (__atomic_load_n(&w[0], __ATOMIC_ACQUIRE) != 0xC0FFEEu) return 3;
    __atomic_store_n(&w[1], 0xBEEFu, __ATOMIC_RELEASE);
    return 0;
  });
  ASSERT_EQ(child.join(), 0);
  EXPECT_EQ(__atomic_load_n(&words[1], __ATOMIC_ACQUIRE), 0xBEEFu);
}

TEST(Segment, OpenModesAndNameErrorsPrintTheirLines) {
  std::string name = unique_name("modes");
  handle first(name.c_str(), 64, ipc::shm::SHM_CREATE);
  ASSERT_TRUE(first.valid());
  std::string missing = unique_name("missing");

  captured_output cap;
  ipc::shm::id_t dup = ipc::shm::acquire(name.c_str(), 64, ipc::shm::SHM_CREATE);
  ipc::shm::id_t none = ipc::shm::acquire(missing.c_str(), 64, ipc::shm::SHM_OPEN);
  ipc::shm::id_t empty = ipc::shm::acquire("", 64);
  ipc::shm::remove("");
  void* mem = ipc::shm::get_mem(nullptr, nullptr);
  std::int32_t released = ipc::shm::release(nullptr);
  const std::string err = cap.err();

  EXPECT_EQ(dup, nullptr);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(empty, nullptr);
  EXPECT_EQ(mem, nullptr);
  EXPECT_EQ(released, -1);
  EXPECT_EQ(err, "fail CreateFileMapping/OpenFileMapping[17]: " + name + "\n" +
                     "fail CreateFileMapping/OpenFileMapping[2]: " + missing + "\n" +
                     "fail acquire: name is empty\n"
                     "fail remove: name is empty\n"
                     "fail get_mem: invalid id (null)\n"
                     "fail release: invalid id (null)\n");
  EXPECT_FALSE(exists(shm_path(missing))) << "mode 2 never creates";
}

TEST(Segment, RemovedWithItsLastUserEvenWhenThatUserWasKilled) {
  std::string name = unique_name("life");
  {
    handle a(name.c_str(), 128), b(name.c_str(), 128);
    ASSERT_TRUE(a.valid() && b.valid());
    a.release();
    EXPECT_TRUE(exists(shm_path(name))) << "still used by the second handle";
  }
  EXPECT_FALSE(exists(shm_path(name)));

  // The only user is killed while the segment holds data: the next user starts from zeros.
  child_process child([&](int ready) {
    handle h(name.c_str(), 128);
    if (!h.valid()) return 1;
    std::memset(h.get(), 0x55, 128);
    signal_ready(ready);
    pause();
    return 0;
  });
  ASSERT_TRUE(child.wait_ready());
  child.kill_now();
  {
    captured_output cap;
    handle gone(name.c_str(), 128, ipc::shm::SHM_OPEN);
    EXPECT_FALSE(gone.valid()) << "a segment whose users all ended no longer exists";
  }
  handle fresh(name.c_str(), 128);
  ASSERT_TRUE(fresh.valid());
  EXPECT_EQ(static_cast<unsigned char*>(fresh.get())[0], 0);
}

TEST(Segment, EveryObjectIsOpenableByEveryUserWhateverTheUmask) {
  std::string name = unique_name("perm");
  mode_t old = umask(077);
  handle seg(name.c_str(), 64);
  ipc::named_mutex mx;
  ipc::named_semaphore sem;
  bool opened = mx.open(name.c_str()) && sem.open(name.c_str(), 0);
  umask(old);
  ASSERT_TRUE(seg.valid() && opened);
  for (const std::string& path : {shm_path(name), "/dev/shm/__IPC_MUTEX__" + name, "/dev/shm/sem." + name}) {
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0) << path;
    EXPECT_EQ(st.st_mode & 0777, 0666u) << path;
  }
}

TEST(NamedMutex, TimesOutWhileHeldAndRecoversWhenTheOwnerIsKilled) {
  std::string name = unique_name("mtx");
  child_process owner([&](int ready) {
    ipc::named_mutex m;
    if (!m.open(name.c_str()) || !m.lock()) return 1;
    signal_ready(ready);
    pause();
    return 0;
  });
  ASSERT_TRUE(owner.wait_ready());

  ipc::named_mutex m;
  ASSERT_TRUE(m.open(name.c_str()));
  {
    captured_output cap;
    EXPECT_FALSE(m.lock(50));
    EXPECT_EQ(cap.out() + cap.err(), "") << "a time-out prints nothing";
  }
  owner.kill_now();
  captured_output cap;
  bool locked = m.lock();
  bool unlocked = locked && m.unlock();
  EXPECT_TRUE(locked);
  EXPECT_TRUE(unlocked);
  EXPECT_EQ(cap.out(), "fail WaitForSingleObject[130]: WAIT_ABANDONED, try again.\n");
  EXPECT_EQ(cap.err(), "");
}

// A forked child inherits the parent's descriptors. Opening and creating names must still exclude
// the two processes from each other: both open the same names at the same time, and every name
// must give both of them one and the same object.
TEST(Segment, ParentAndForkedChildOpeningTheSameNamesAtOnceShareEachObject) {
  constexpr int kNames = 150;
  const std::string base = unique_name("race");
  auto name_of = [&](int i) { return base + "_" + std::to_string(i); };
  {
    ipc::named_semaphore warm;  // the parent has used the registry before it forks
    ASSERT_TRUE(warm.open((base + "_warm").c_str()));
  }
  // Opens every name (a segment and a semaphore each) and marks word `side` of each segment.
  auto open_all = [&](std::vector<std::unique_ptr<handle>>& segs,
                      std::vector<std::unique_ptr<ipc::named_semaphore>>& sems, int side) {
    for (int i = 0; i < kNames; ++i) {
      segs.push_back(std::make_unique<handle>());
      sems.push_back(std::make_unique<ipc::named_semaphore>());
      if (!segs.back()->acquire(name_of(i).c_str(), 64, ipc::shm::SHM_CREATE_OR_OPEN)) return false;
      if (!sems.back()->open(name_of(i).c_str())) return false;
      __atomic_store_n(static_cast<std::uint32_t*>(segs.back()->get()) + side, 1u, __ATOMIC_RELEASE);
    }
    return true;
  };
  child_process child([&](int ready) {
    std::vector<std::unique_ptr<handle>> segs;
    std::vector<std::unique_ptr<ipc::named_semaphore>> sems;
    if (write(ready, "s", 1) != 1) return 1;
    if (!open_all(segs, sems, 1)) return 2;
    if (write(ready, "d", 1) != 1) return 3;
    pause();  // keeps its objects until the parent has looked
    return 0;
  });
  ASSERT_TRUE(child.wait_ready());
  std::vector<std::unique_ptr<handle>> segs;
  std::vector<std::unique_ptr<ipc::named_semaphore>> sems;
  ASSERT_TRUE(open_all(segs, sems, 0));
  ASSERT_TRUE(child.wait_ready()) << "the child failed to open a name";
  for (int i = 0; i < kNames; ++i) {
    EXPECT_EQ(__atomic_load_n(static_cast<std::uint32_t*>(segs[i]->get()) + 1, __ATOMIC_ACQUIRE), 1u)
        << name_of(i) << ": the child's segment is another object";
  }
}

TEST(NamedSemaphore, RefusesToPassTheMaximumCount) {
  std::string name = unique_name("sem");
  ipc::named_semaphore sem;
  ASSERT_TRUE(sem.open(name.c_str(), 1));
  EXPECT_TRUE(sem.post(3));
  captured_output cap;
  EXPECT_FALSE(sem.post(2147483647u));
  EXPECT_EQ(cap.err(), "fail ReleaseSemaphore[75]\n");
}

TEST(NamedCondition, BroadcastWithoutWaiterIsFalseAndOneBroadcastReleasesThree) {
  std::string name = unique_name("cond");
  ipc::named_mutex m;
  ipc::named_condition cond;
  ASSERT_TRUE(m.open((name + "_m").c_str()) && cond.open(name.c_str()));
  EXPECT_FALSE(cond.broadcast(m));
  EXPECT_EQ(read_counter(name), 0);

  std::atomic<int> woken{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) {
    threads.emplace_back([&] {
      // Each thread has objects of its own, as a separate process would.
      ipc::named_mutex tm;
      ipc::named_condition tc;
      if (!tm.open((name + "_m").c_str()) || !tc.open(name.c_str()) || !tm.lock()) return;
      if (tc.wait(tm, 10000)) ++woken;
      tm.unlock();
    });
  }
  ASSERT_TRUE(eventually([&] { return read_counter(name) == 3; }));
  ASSERT_TRUE(m.lock());
  EXPECT_TRUE(cond.broadcast(m));
  m.unlock();
  for (auto& t : threads) t.join();
  EXPECT_EQ(woken.load(), 3);
  EXPECT_EQ(read_counter(name), 0);

  // A count corrupted by a peer makes a bounded number of posts, not two billion.
  write_counter(name, 2147483647);
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(m.lock());
  EXPECT_TRUE(cond.broadcast(m));
  m.unlock();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(read_counter(name), 0);
}

TEST(NamedCondition, TimedWaitLeavesTheCounterAndNegativeCounterIsRepaired) {
  std::string name = unique_name("cond");
  ipc::named_mutex m;
  ipc::named_condition cond;
  ASSERT_TRUE(m.open((name + "_m").c_str()) && cond.open(name.c_str()) && m.lock());
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(cond.wait(m, 100));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(95));
  EXPECT_LT(waited, std::chrono::seconds(10));
  EXPECT_EQ(read_counter(name), 0);
  m.unlock();

  // Left over by a process that ended during a wait.
  write_counter(name, -3);
  std::atomic<bool> woken{false};
  std::thread t([&] {
    ipc::named_mutex tm;
    ipc::named_condition tc;
    if (tm.open((name + "_m").c_str()) && tc.open(name.c_str()) && tm.lock()) {
      woken = tc.wait(tm, 10000);
      tm.unlock();
    }
  });
  ASSERT_TRUE(eventually([&] { return read_counter(name) == 1; }));
  ASSERT_TRUE(m.lock());
  EXPECT_TRUE(cond.broadcast(m));
  m.unlock();
  t.join();
  EXPECT_TRUE(woken.load());
}

TEST(Waiter, BroadcastWakesOthersStopWaitingEndsAWaitResumeWaitsAgain) {
  std::string name = unique_name("wt");
  std::string counter = "_waiter_cond_" + name;
  ipc::waiter w;
  ASSERT_TRUE(w.open(name.c_str()));
  EXPECT_FALSE(w.wait_while([] { return true; }, 30)) << "a single wait timed out";
  EXPECT_TRUE(w.wait_while([] { return false; }, 30)) << "nothing to wait for";

  // Another waiter object of the same name is woken; its own predicate decides.
  std::atomic<bool> go{false};
  std::atomic<int> other{-1};
  std::thread t1([&] {
    ipc::waiter mine;
    if (mine.open(name.c_str())) other = mine.wait_while([&] { return !go.load(); }, 10000) ? 1 : 0;
  });
  ASSERT_TRUE(eventually([&] { return read_counter(counter) == 1; }));
  go = true;
  EXPECT_TRUE(w.broadcast());
  t1.join();
  EXPECT_EQ(other.load(), 1);

  // stop_waiting on the object a thread waits with ends that wait although its predicate holds.
  std::atomic<int> stopped{-1};
  std::thread t2([&] { stopped = w.wait_while([] { return true; }, 10000) ? 1 : 0; });
  ASSERT_TRUE(eventually([&] { return read_counter(counter) == 1; }));
  w.stop_waiting();
  t2.join();
  EXPECT_EQ(stopped.load(), 1);
  w.resume();
  EXPECT_FALSE(w.wait_while([] { return true; }, 20)) << "resumed: it waits again";
}

TEST(SpinLock, KeepsThreadsOutOfEachOther) {
  std::string name = unique_name("spin");
  handle seg(name.c_str(), 8);
  ASSERT_TRUE(seg.valid());
  auto* words = static_cast<std::uint32_t*>(seg.get());
  ipc::spin_lock lock(&words[0]);
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      for (int n = 0; n < 20000; ++n) {
        lock.lock();
        std::uint32_t v = __atomic_load_n(&words[1], __ATOMIC_RELAXED);
        __atomic_store_n(&words[1], v + 1, __ATOMIC_RELAXED);
        lock.unlock();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(words[1], 80000u);
  EXPECT_EQ(words[0], 0u);
}

// A word left set by a holder that was killed inside the section, or written by a faulty peer,
// is taken over after a while instead of blocking every later user for good.
TEST(SpinLock, WordLeftSetIsTakenOverWithALogLine) {
  struct row {
    const char* what;
    bool killed_holder;
    std::uint32_t word;
  } rows[] = {{"holder killed inside the section", true, 1u}, {"garbage written by a peer", false, 0xDEADBEEFu}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    std::string name = unique_name("spin_stuck");
    handle seg(name.c_str(), 8);
    ASSERT_TRUE(seg.valid());
    auto* word = static_cast<std::uint32_t*>(seg.get());
    if (r.killed_holder) {
      child_process holder([&](int ready) {
        handle mine(name.c_str(), 8);
        if (!mine.valid()) return 1;
        ipc::spin_lock(mine.get()).lock();
        signal_ready(ready);
        pause();
        return 0;
      });
      ASSERT_TRUE(holder.wait_ready());
      holder.kill_now();
    } else {
      __atomic_store_n(word, r.word, __ATOMIC_RELEASE);
    }
    ASSERT_NE(__atomic_load_n(word, __ATOMIC_ACQUIRE), 0u);

    captured_output cap;
    ipc::spin_lock lock(word);
    lock.lock();  // the test's time-out catches a lock that never returns
    EXPECT_EQ(__atomic_load_n(word, __ATOMIC_ACQUIRE), 1u) << "held by this thread now";
    lock.unlock();
    EXPECT_EQ(__atomic_load_n(word, __ATOMIC_ACQUIRE), 0u);
    EXPECT_EQ(count_of(cap.out(), "taken over\n"), 1) << cap.out();
  }
}

TEST(BackOff, FollowsTheRetryTable) {
  struct row {
    unsigned k, next;
  } rows[] = {{0, 1}, {3, 4}, {4, 5}, {15, 16}, {16, 17}, {31, 32}, {32, 32}, {100, 100}};
  for (const row& r : rows) EXPECT_EQ(ipc::back_off(r.k), r.next) << "k = " << r.k;
}
