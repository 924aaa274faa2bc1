// POSIX implementation of the IPC seam (ipc_os.h) for Linux.
//
// Named kernel objects of the Windows build map onto:
//  - mapping:   a POSIX shared-memory object "/" + name, sized and reserved with posix_fallocate
//               when created (so it is zero-filled and a full /dev/shm fails the creation instead
//               of faulting later), permissions 0666 set with fchmod (independent of the umask);
//  - mutex:     a robust, recursive, process-shared pthread mutex living in the shared-memory
//               object "/__IPC_MUTEX__" + name; EOWNERDEAD is the abandoned case;
//  - semaphore: sem_open("/" + name), chmod'ed to 0666 when created, with a generation word
//               beside it (see unlock_and_wait).
//
// Lifetime bookkeeping lives outside the objects' bytes: every open handle holds a shared flock()
// on the object's file. Closing a handle tries to upgrade that lock to an exclusive one; only the
// last holder anywhere succeeds, and it unlinks the name. The kernel drops the locks of a killed
// process, so an object whose holders all died is found unlocked by the next opener, who removes
// it and starts afresh, as a Windows object would have vanished with its last handle. Opening,
// creating and unlinking are serialised across processes by an exclusive flock() on a registry
// object, so that an opener never races a last closer.
#include "ipc_os.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <linux/futex.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace ipc {
namespace os {
namespace {

constexpr mode_t kEveryone = 0666;
constexpr const char* kRegistryName = "/__IPC_REGISTRY__";
constexpr const char* kMutexPrefix = "/__IPC_MUTEX__";
constexpr const char* kSemaphoreDir = "/dev/shm/sem.";

thread_local unsigned long t_last_error = 0;

void set_error(int code) { t_last_error = static_cast<unsigned long>(code); }

// Cross-process registry lock. flock() excludes other open file descriptions only, so threads of
// this process are kept apart by a process-local mutex around it.
class registry_lock {
 public:
  registry_lock() : guard_(local_mutex()) {
    fd_ = registry_fd();
    if (fd_ >= 0) {
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~registry_lock() {
    if (fd_ >= 0) flock(fd_, LOCK_UN);
  }
  registry_lock(const registry_lock&) = delete;
  registry_lock& operator=(const registry_lock&) = delete;

 private:
  static std::mutex& local_mutex() {
    static auto* m = new std::mutex;  // never destroyed: usable from static destructors
    return *m;
  }
  // Opened once per process and kept open, so the lock is a single flock() call. A forked child
  // opens its own: the descriptor it inherited shares the parent's open file description, and with
  // it the parent's flock(), which would then exclude neither process from the other. Called with
  // the local mutex held.
  static int registry_fd() {
    static int fd = -1;
    static pid_t owner = 0;
    const pid_t self = getpid();
    if (owner != self) {
      if (fd >= 0) close(fd);
      fd = shm_open(kRegistryName, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kEveryone);
      if (fd >= 0) {
        fchmod(fd, kEveryone);
      } else {
        fd = shm_open(kRegistryName, O_RDWR | O_CREAT | O_CLOEXEC, kEveryone);
      }
      owner = self;
    }
    return fd;
  }

  std::lock_guard<std::mutex> guard_;
  int fd_;
};

// Takes a shared lifetime lock on `fd`.
bool hold_shared(int fd) {
  while (flock(fd, LOCK_SH) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// True when nobody else holds a lifetime lock on the object behind `fd` (our own lock, if any,
// is dropped by the attempt).
bool no_other_holder(int fd) { return flock(fd, LOCK_EX | LOCK_NB) == 0; }

// Opens the shared-memory object `shm_name` (with its leading "/") under the registry lock.
// A stale object (no holder left) counts as missing and is unlinked first. On success the
// returned descriptor holds a shared lifetime lock; `*created` tells whether it is new.
int open_object(const std::string& shm_name, std::size_t size, open_mode mode, bool* created) {
  *created = false;
  int fd = shm_open(shm_name.c_str(), O_RDWR, 0);
  if (fd >= 0 && no_other_holder(fd)) {
    shm_unlink(shm_name.c_str());
    close(fd);
    fd = -1;
  } else if (fd < 0 && errno != ENOENT) {
    set_error(errno);
    return -1;
  }
  if (fd >= 0) {
    if (mode == open_mode::create_only) {
      close(fd);
      set_error(EEXIST);
      return -1;
    }
  } else {
    if (mode == open_mode::open_only) {
      set_error(ENOENT);
      return -1;
    }
    if (size == 0) {
      set_error(EINVAL);
      return -1;
    }
    fd = shm_open(shm_name.c_str(), O_RDWR | O_CREAT | O_EXCL, kEveryone);
    if (fd < 0) {
      set_error(errno);
      return -1;
    }
    fchmod(fd, kEveryone);
    int rc = posix_fallocate(fd, 0, static_cast<off_t>(size));
    if (rc != 0) {
      shm_unlink(shm_name.c_str());
      close(fd);
      set_error(rc);
      return -1;
    }
    *created = true;
  }
  if (!hold_shared(fd)) {
    set_error(errno);
    close(fd);
    return -1;
  }
  return fd;
}

// Gives up a lifetime lock; the last holder unlinks the name. A forked child that inherited the
// descriptor shares its lock with the parent, so it only closes its copy.
void close_object(int fd, pid_t opener, const std::string& shm_name, bool is_semaphore) {
  registry_lock lock;
  if (opener == getpid() && no_other_holder(fd)) {
    if (is_semaphore) {
      sem_unlink(shm_name.c_str());
    } else {
      shm_unlink(shm_name.c_str());
    }
  }
  close(fd);
}

// One view per object and process, shared by every handle of this process: the objects that
// live in it (atomics, mutexes) then have one address per process.
struct view {
  void* mem;
  std::size_t size;
  int refs;
};

// Never destroyed, so that handles released by static destructors still find them.
std::mutex& views_mutex() {
  static auto* m = new std::mutex;
  return *m;
}

std::map<std::pair<dev_t, ino_t>, view>& views() {
  static auto* v = new std::map<std::pair<dev_t, ino_t>, view>;
  return *v;
}

timespec deadline_after(clockid_t clock, std::uint32_t ms) {
  timespec ts;
  clock_gettime(clock, &ts);
  ts.tv_sec += ms / 1000;
  ts.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (ts.tv_nsec >= 1000000000L) {
    ts.tv_sec += 1;
    ts.tv_nsec -= 1000000000L;
  }
  return ts;
}

}  // namespace

unsigned long last_error() { return t_last_error; }

// --- Mappings -------------------------------------------------------------------------------

struct mapping {
  int fd;
  pid_t opener;
  std::string shm_name;
  dev_t dev;
  ino_t ino;
};

namespace {

mapping* open_mapping_locked(const std::string& shm_name, std::size_t size, open_mode mode,
                             bool* created) {
  int fd = open_object(shm_name, size, mode, created);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    set_error(errno);
    close(fd);
    return nullptr;
  }
  return new mapping{fd, getpid(), shm_name, st.st_dev, st.st_ino};
}

}  // namespace

mapping* mapping_open(const char* name, std::size_t size, open_mode mode) {
  registry_lock lock;
  bool created = false;
  return open_mapping_locked(std::string("/") + name, size, mode, &created);
}

void* mapping_view(mapping* m, std::size_t* size, view_failure* failure) {
  *failure = view_failure::none;
  std::lock_guard<std::mutex> guard(views_mutex());
  auto it = views().find({m->dev, m->ino});
  if (it != views().end()) {
    ++it->second.refs;
    *size = it->second.size;
    return it->second.mem;
  }
  struct stat st;
  if (fstat(m->fd, &st) != 0) {
    set_error(errno);
    *failure = view_failure::query;
    return nullptr;
  }
  if (st.st_size <= 0) {
    set_error(EINVAL);
    *failure = view_failure::map;
    return nullptr;
  }
  std::size_t len = static_cast<std::size_t>(st.st_size);
  void* mem = mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_SHARED, m->fd, 0);
  if (mem == MAP_FAILED) {
    set_error(errno);
    *failure = view_failure::map;
    return nullptr;
  }
  views()[{m->dev, m->ino}] = view{mem, len, 1};
  *size = len;
  return mem;
}

void mapping_unmap(mapping* m, void* mem, std::size_t size) {
  std::lock_guard<std::mutex> guard(views_mutex());
  auto it = views().find({m->dev, m->ino});
  if (it == views().end() || it->second.mem != mem) {
    munmap(mem, size);
    return;
  }
  if (--it->second.refs == 0) {
    munmap(it->second.mem, it->second.size);
    views().erase(it);
  }
}

void mapping_close(mapping* m) {
  if (m == nullptr) return;
  close_object(m->fd, m->opener, m->shm_name, false);
  delete m;
}

// --- Mutexes --------------------------------------------------------------------------------

struct mutex {
  mapping* seg;
  void* mem;
  std::size_t size;
  pthread_mutex_t* mx;
};

mutex* mutex_open(const char* name) {
  registry_lock lock;
  bool created = false;
  mapping* seg =
      open_mapping_locked(kMutexPrefix + std::string(name), sizeof(pthread_mutex_t),
                          open_mode::create_or_open, &created);
  if (seg == nullptr) return nullptr;
  std::size_t size = 0;
  view_failure failure;
  void* mem = mapping_view(seg, &size, &failure);
  if (mem == nullptr || size < sizeof(pthread_mutex_t)) {
    if (mem != nullptr) {
      mapping_unmap(seg, mem, size);
      set_error(EINVAL);
    }
    close(seg->fd);  // the registry lock is held: no unlink here, the next opener cleans up
    delete seg;
    return nullptr;
  }
  auto* mx = static_cast<pthread_mutex_t*>(mem);
  if (created) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    // Windows mutexes may be taken again by their owning thread.
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(mx, &attr);
    pthread_mutexattr_destroy(&attr);
  }
  return new mutex{seg, mem, size, mx};
}

wait_result mutex_lock(mutex* m, std::uint32_t timeout_ms) {
  int rc;
  if (timeout_ms == kInfinite) {
    rc = pthread_mutex_lock(m->mx);
  } else if (timeout_ms == 0) {
    rc = pthread_mutex_trylock(m->mx);
  } else {
    timespec ts = deadline_after(CLOCK_REALTIME, timeout_ms);
    do {
      rc = pthread_mutex_timedlock(m->mx, &ts);
    } while (rc == EINTR);
  }
  switch (rc) {
    case 0:
      return wait_result::acquired;
    case EBUSY:
    case ETIMEDOUT:
      return wait_result::timeout;
    case EOWNERDEAD:
      // Mark the protected state usable again; the caller decides what to do with it.
      pthread_mutex_consistent(m->mx);
      set_error(EOWNERDEAD);
      return wait_result::abandoned;
    default:
      set_error(rc);
      return wait_result::failed;
  }
}

bool mutex_unlock(mutex* m) {
  int rc = pthread_mutex_unlock(m->mx);
  if (rc != 0) {
    set_error(rc);
    return false;
  }
  return true;
}

void mutex_close(mutex* m) {
  if (m == nullptr) return;
  mapping_unmap(m->seg, m->mem, m->size);
  mapping_close(m->seg);
  delete m;
}

// --- Semaphores -----------------------------------------------------------------------------

// A Windows wait releases the mutex and starts waiting on the semaphore in one step. Here the
// two steps are separate, so a thread that starts to wait in between could consume a post meant
// for a thread that was already waiting, which would then sleep through it. To rule that out
// every post advances a generation word (in a side segment "/__IPC_SEMGEN__" + name) before it
// adds its tokens; a waiter notes the generation when it registers (semaphore_ticket) and only
// keeps a token once the generation has moved past that note. An older token is handed back and
// the waiter sleeps on the generation word until the next post.
struct semaphore {
  sem_t* sem;
  int fd;  // the semaphore's file, for the lifetime lock
  pid_t opener;
  std::string sem_name;
  mapping* gen_seg;
  void* gen_mem;
  std::size_t gen_size;
  std::uint32_t* gen;
};

namespace {

constexpr const char* kGenerationPrefix = "/__IPC_SEMGEN__";

long futex(std::uint32_t* word, int op, std::uint32_t value, const timespec* timeout) {
  return syscall(SYS_futex, word, op, value, timeout, nullptr, 0);
}

// Time left until `deadline` on the monotonic clock; false when none is left.
bool time_left(const timespec& deadline, timespec* left) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  long long ns = (deadline.tv_sec - now.tv_sec) * 1000000000LL + (deadline.tv_nsec - now.tv_nsec);
  if (ns <= 0) return false;
  left->tv_sec = static_cast<time_t>(ns / 1000000000LL);
  left->tv_nsec = static_cast<long>(ns % 1000000000LL);
  return true;
}

}  // namespace

semaphore* semaphore_open(const char* name, std::uint32_t initial_count) {
  std::string sem_name = std::string("/") + name;
  std::string path = kSemaphoreDir + std::string(name);
  if (initial_count > static_cast<std::uint32_t>(SEM_VALUE_MAX)) {
    set_error(EINVAL);
    return nullptr;
  }
  registry_lock lock;
  bool created = false;
  mapping* gen_seg = open_mapping_locked(kGenerationPrefix + std::string(name),
                                         sizeof(std::uint32_t), open_mode::create_or_open, &created);
  if (gen_seg == nullptr) return nullptr;
  std::size_t gen_size = 0;
  view_failure failure;
  void* gen_mem = mapping_view(gen_seg, &gen_size, &failure);
  if (gen_mem == nullptr || gen_size < sizeof(std::uint32_t)) {
    if (gen_mem != nullptr) mapping_unmap(gen_seg, gen_mem, gen_size);
    set_error(EINVAL);
    close(gen_seg->fd);
    delete gen_seg;
    return nullptr;
  }
  auto give_up = [&](int fd) {
    set_error(errno);
    if (fd >= 0) close(fd);
    mapping_unmap(gen_seg, gen_mem, gen_size);
    close(gen_seg->fd);
    delete gen_seg;
    return nullptr;
  };

  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd >= 0 && no_other_holder(fd)) {
    sem_unlink(sem_name.c_str());
    close(fd);
    fd = -1;
  }
  sem_t* sem = SEM_FAILED;
  if (fd < 0) {
    sem = sem_open(sem_name.c_str(), O_CREAT | O_EXCL, kEveryone, initial_count);
    if (sem != SEM_FAILED) chmod(path.c_str(), kEveryone);
  }
  if (sem == SEM_FAILED) sem = sem_open(sem_name.c_str(), O_CREAT, kEveryone, initial_count);
  if (sem == SEM_FAILED) return give_up(fd);
  if (fd < 0) fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0 || !hold_shared(fd)) {
    sem_close(sem);
    return give_up(fd);
  }
  return new semaphore{sem, fd, getpid(), sem_name, gen_seg, gen_mem, gen_size,
                       static_cast<std::uint32_t*>(gen_mem)};
}

bool semaphore_post(semaphore* s, std::uint32_t count) {
  int value = 0;
  if (sem_getvalue(s->sem, &value) != 0) {
    set_error(errno);
    return false;
  }
  // Like a Windows semaphore, refuse a post that would pass the maximum count.
  if (count > static_cast<std::uint32_t>(SEM_VALUE_MAX - (value < 0 ? 0 : value))) {
    set_error(EOVERFLOW);
    return false;
  }
  __atomic_add_fetch(s->gen, 1u, __ATOMIC_ACQ_REL);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (sem_post(s->sem) != 0) {
      set_error(errno);
      return false;
    }
  }
  futex(s->gen, FUTEX_WAKE, INT_MAX, nullptr);
  return true;
}

void semaphore_close(semaphore* s) {
  if (s == nullptr) return;
  sem_close(s->sem);
  close_object(s->fd, s->opener, s->sem_name, true);
  mapping_unmap(s->gen_seg, s->gen_mem, s->gen_size);
  mapping_close(s->gen_seg);
  delete s;
}

std::uint32_t semaphore_ticket(semaphore* s) { return __atomic_load_n(s->gen, __ATOMIC_ACQUIRE); }

wait_result unlock_and_wait(mutex* m, semaphore* s, std::uint32_t ticket, std::uint32_t timeout_ms) {
  const std::uint32_t seen = ticket;
  if (!mutex_unlock(m)) return wait_result::failed;
  const bool forever = timeout_ms == kInfinite;
  const timespec deadline = deadline_after(CLOCK_MONOTONIC, forever ? 0 : timeout_ms);
  for (;;) {
    int rc;
    if (forever) {
      while ((rc = sem_wait(s->sem)) != 0 && errno == EINTR) {
      }
    } else if (timeout_ms == 0) {
      rc = sem_trywait(s->sem);
    } else {
      while ((rc = sem_clockwait(s->sem, CLOCK_MONOTONIC, &deadline)) != 0 && errno == EINTR) {
      }
    }
    if (rc != 0) {
      int err = errno;
      set_error(err);
      return (err == ETIMEDOUT || err == EAGAIN) ? wait_result::timeout : wait_result::failed;
    }
    if (__atomic_load_n(s->gen, __ATOMIC_ACQUIRE) != seen) return wait_result::acquired;
    // A token posted before this wait began: give it back and sleep until the next post.
    sem_post(s->sem);
    timespec left;
    if (forever) {
      futex(s->gen, FUTEX_WAIT, seen, nullptr);
    } else if (timeout_ms == 0 || !time_left(deadline, &left)) {
      set_error(ETIMEDOUT);
      return wait_result::timeout;
    } else {
      futex(s->gen, FUTEX_WAIT, seen, &left);
    }
  }
}

// --- Per-thread cleanup --------------------------------------------------------------------

bool thread_key_create(void (*destroy)(void*), std::uint32_t* key) {
  pthread_key_t k;
  const int rc = pthread_key_create(&k, destroy);
  if (rc != 0) {
    set_error(rc);
    return false;
  }
  *key = static_cast<std::uint32_t>(k);
  return true;
}

bool thread_key_set(std::uint32_t key, void* value) {
  const int rc = pthread_setspecific(static_cast<pthread_key_t>(key), value);
  if (rc != 0) set_error(rc);
  return rc == 0;
}

// --- Scheduling -----------------------------------------------------------------------------

void cpu_pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

void yield_thread() { sched_yield(); }

void sleep_ms(std::uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

std::uint64_t monotonic_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

}  // namespace os
}  // namespace ipc
