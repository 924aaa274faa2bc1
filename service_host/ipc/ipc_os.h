// Operating-system seam of the shared-memory IPC layer.
//
// Everything above this header (segments, mutexes, semaphores, conditions, waiters, channels and
// chunk storage) is written once against these few primitives; each operating system provides one
// implementation file (ipc_os_posix.cpp now, a Windows one beside it later). The primitives keep
// the semantics of named kernel objects on every system:
//
//  - a named object exists while at least one handle to it is open anywhere, and is removed with
//    its last handle (also when the last holder was killed);
//  - a new mapping is zero-filled and its memory is reserved when it is created;
//  - every object is created so that every process of every user may open it;
//  - a mutex whose owner ended while holding it is reported as abandoned to its next locker,
//    which then owns it.
//
// Failures return null/false and leave the system error code for last_error().
#ifndef KOVA_IPC_OS_H
#define KOVA_IPC_OS_H

#include <cstddef>
#include <cstdint>

namespace ipc {
namespace os {

constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;  // wait without limit

// The error code of the last failed call on this thread.
unsigned long last_error();

// --- Named mappings -------------------------------------------------------------------------

struct mapping;

enum class open_mode { create_only, open_only, create_or_open };

// Creates or opens the mapping named `name` (the full operating-system name, prefixes included).
// `size` is the size of a new mapping; an existing one keeps its own size.
mapping* mapping_open(const char* name, std::size_t size, open_mode mode);

enum class view_failure { none, map, query };

// Maps the whole mapping; returns the address and its size, or null with the failing step.
void* mapping_view(mapping* m, std::size_t* size, view_failure* failure);
void mapping_unmap(mapping* m, void* mem, std::size_t size);
void mapping_close(mapping* m);

// --- Named mutexes --------------------------------------------------------------------------

struct mutex;

enum class wait_result { acquired, timeout, abandoned, failed };

mutex* mutex_open(const char* name);
// `abandoned`: the previous owner ended while holding the mutex; the caller now owns it.
wait_result mutex_lock(mutex* m, std::uint32_t timeout_ms);
bool mutex_unlock(mutex* m);
void mutex_close(mutex* m);

// --- Named counting semaphores --------------------------------------------------------------

struct semaphore;

semaphore* semaphore_open(const char* name, std::uint32_t initial_count);
bool semaphore_post(semaphore* s, std::uint32_t count);
void semaphore_close(semaphore* s);

// Notes the moment the caller registers as a waiter on `s`; call it under the lock that also
// guards the registration.
std::uint32_t semaphore_ticket(semaphore* s);
// Releases `m` and waits on `s` for at most `timeout_ms`, as one step: it is woken only by a post
// made after `ticket` was taken, and a post made after that is never missed.
wait_result unlock_and_wait(mutex* m, semaphore* s, std::uint32_t ticket, std::uint32_t timeout_ms);

// --- Per-thread cleanup --------------------------------------------------------------------

// A process-wide key under which each thread may register one pointer; when a thread that
// registered a non-null pointer ends, `destroy` is called with it on that thread. (A C++
// thread_local object with a destructor is not used for this: with MinGW's runtime such a
// destructor can run after the thread's storage is gone, which corrupts the heap.)
bool thread_key_create(void (*destroy)(void*), std::uint32_t* key);
bool thread_key_set(std::uint32_t key, void* value);

// --- Scheduling -----------------------------------------------------------------------------

void cpu_pause();
void yield_thread();
void sleep_ms(std::uint32_t ms);
// Milliseconds of a monotonic clock; safe to call from a signal handler.
std::uint64_t monotonic_ms();

}  // namespace os
}  // namespace ipc

#endif  // KOVA_IPC_OS_H
