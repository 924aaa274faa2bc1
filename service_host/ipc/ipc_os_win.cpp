// Windows implementation of the IPC seam (ipc_os.h): named kernel objects.
//
//  - mapping:   a page-file-backed file mapping (committed, read-write), mapped whole;
//  - mutex:     a named mutex, created not owned; WAIT_ABANDONED is the abandoned case;
//  - semaphore: a named semaphore with the largest maximum count the system allows;
//  - unlock_and_wait: SignalObjectAndWait, which releases the mutex and starts the wait as one
//    step, so no ticket is needed.
//
// The system keeps every object while a handle to it is open and removes it with its last handle,
// also when that handle's process was killed; new mappings are zero-filled. Every object is
// created with a security descriptor without an access-control list, so that every process of
// every user may open it; handles are not inheritable. Names arrive as UTF-8 and reach the system
// as UTF-16.
#include "ipc_os.h"

#include <windows.h>

#include <string>

#include "ipc_print.h"

namespace ipc {
namespace os {
namespace {

constexpr LONG kSemaphoreMaximum = 2147483647;

thread_local unsigned long t_last_error = 0;

void keep_error() { t_last_error = GetLastError(); }

// The security attributes of every object created here, built once per process. Null (the
// default security) when a step of building them failed, after its error line.
SECURITY_ATTRIBUTES* everyone() {
  static SECURITY_DESCRIPTOR s_descriptor;
  static SECURITY_ATTRIBUTES s_attributes;
  static SECURITY_ATTRIBUTES* s_ready = []() -> SECURITY_ATTRIBUTES* {
    if (!InitializeSecurityDescriptor(&s_descriptor, SECURITY_DESCRIPTOR_REVISION)) {
      error_line("fail InitializeSecurityDescriptor[%d]\n", static_cast<int>(GetLastError()));
      return nullptr;
    }
    if (!SetSecurityDescriptorDacl(&s_descriptor, TRUE, nullptr, FALSE)) {
      error_line("fail SetSecurityDescriptorDacl[%d]\n", static_cast<int>(GetLastError()));
      return nullptr;
    }
    s_attributes.nLength = sizeof(s_attributes);
    s_attributes.lpSecurityDescriptor = &s_descriptor;
    s_attributes.bInheritHandle = FALSE;
    return &s_attributes;
  }();
  return s_ready;
}

// UTF-8 to UTF-16; false for text that is not valid UTF-8, which names no object.
bool wide_name(const char* name, std::wstring* out) {
  const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, nullptr, 0);
  if (size <= 0) {
    keep_error();
    return false;
  }
  out->assign(static_cast<size_t>(size), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, &(*out)[0], size) <= 0) {
    keep_error();
    return false;
  }
  out->resize(static_cast<size_t>(size - 1));
  return true;
}

}  // namespace

unsigned long last_error() { return t_last_error; }

// --- Mappings -------------------------------------------------------------------------------

struct mapping {
  HANDLE h;
};

mapping* mapping_open(const char* name, std::size_t size, open_mode mode) {
  std::wstring wide;
  if (!wide_name(name, &wide)) return nullptr;
  HANDLE h = nullptr;
  if (mode == open_mode::open_only) {
    h = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, wide.c_str());
  } else {
    // The maximum size is the low 32 bits of the size asked for.
    h = CreateFileMappingW(INVALID_HANDLE_VALUE, everyone(), PAGE_READWRITE | SEC_COMMIT, 0,
                           static_cast<DWORD>(size & 0xFFFFFFFFu), wide.c_str());
    if (h != nullptr && mode == open_mode::create_only && GetLastError() == ERROR_ALREADY_EXISTS) {
      CloseHandle(h);
      SetLastError(ERROR_ALREADY_EXISTS);
      h = nullptr;
    }
  }
  if (h == nullptr) {
    keep_error();
    return nullptr;
  }
  return new mapping{h};
}

void* mapping_view(mapping* m, std::size_t* size, view_failure* failure) {
  *failure = view_failure::none;
  void* mem = MapViewOfFile(m->h, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  if (mem == nullptr) {
    keep_error();
    *failure = view_failure::map;
    return nullptr;
  }
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(mem, &info, sizeof(info)) == 0) {
    keep_error();
    UnmapViewOfFile(mem);
    *failure = view_failure::query;
    return nullptr;
  }
  *size = info.RegionSize;
  return mem;
}

void mapping_unmap(mapping*, void* mem, std::size_t) { UnmapViewOfFile(mem); }

void mapping_close(mapping* m) {
  if (m == nullptr) return;
  CloseHandle(m->h);
  delete m;
}

// --- Mutexes --------------------------------------------------------------------------------

struct mutex {
  HANDLE h;
};

mutex* mutex_open(const char* name) {
  std::wstring wide;
  if (!wide_name(name, &wide)) return nullptr;
  HANDLE h = CreateMutexW(everyone(), FALSE, wide.c_str());
  if (h == nullptr) {
    keep_error();
    return nullptr;
  }
  return new mutex{h};
}

namespace {

wait_result wait_outcome(DWORD r) {
  switch (r) {
    case WAIT_OBJECT_0:
      return wait_result::acquired;
    case WAIT_TIMEOUT:
      return wait_result::timeout;
    case WAIT_ABANDONED:
      keep_error();
      return wait_result::abandoned;
    default:
      keep_error();
      return wait_result::failed;
  }
}

}  // namespace

wait_result mutex_lock(mutex* m, std::uint32_t timeout_ms) {
  return wait_outcome(WaitForSingleObject(m->h, timeout_ms));
}

bool mutex_unlock(mutex* m) {
  if (ReleaseMutex(m->h)) return true;
  keep_error();
  return false;
}

void mutex_close(mutex* m) {
  if (m == nullptr) return;
  CloseHandle(m->h);
  delete m;
}

// --- Semaphores -----------------------------------------------------------------------------

struct semaphore {
  HANDLE h;
};

semaphore* semaphore_open(const char* name, std::uint32_t initial_count) {
  std::wstring wide;
  if (!wide_name(name, &wide)) return nullptr;
  if (initial_count > static_cast<std::uint32_t>(kSemaphoreMaximum)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    keep_error();
    return nullptr;
  }
  HANDLE h = CreateSemaphoreW(everyone(), static_cast<LONG>(initial_count), kSemaphoreMaximum, wide.c_str());
  if (h == nullptr) {
    keep_error();
    return nullptr;
  }
  return new semaphore{h};
}

bool semaphore_post(semaphore* s, std::uint32_t count) {
  if (count > static_cast<std::uint32_t>(kSemaphoreMaximum)) {
    SetLastError(ERROR_TOO_MANY_POSTS);
    keep_error();
    return false;
  }
  if (ReleaseSemaphore(s->h, static_cast<LONG>(count), nullptr)) return true;
  keep_error();
  return false;
}

void semaphore_close(semaphore* s) {
  if (s == nullptr) return;
  CloseHandle(s->h);
  delete s;
}

// The release and the wait are one step here: a post can only reach a thread that waits already.
std::uint32_t semaphore_ticket(semaphore*) { return 0; }

wait_result unlock_and_wait(mutex* m, semaphore* s, std::uint32_t, std::uint32_t timeout_ms) {
  const DWORD r = SignalObjectAndWait(m->h, s->h, timeout_ms, FALSE);
  // An abandoned result concerns the mutex being signalled, never the semaphore waited on.
  return r == WAIT_ABANDONED ? wait_result::failed : wait_outcome(r);
}

// --- Per-thread cleanup --------------------------------------------------------------------

// Fiber-local storage: its callback runs on the ending thread with the value it holds.
bool thread_key_create(void (*destroy)(void*), std::uint32_t* key) {
  const DWORD index = FlsAlloc(reinterpret_cast<PFLS_CALLBACK_FUNCTION>(destroy));
  if (index == FLS_OUT_OF_INDEXES) {
    keep_error();
    return false;
  }
  *key = index;
  return true;
}

bool thread_key_set(std::uint32_t key, void* value) {
  if (FlsSetValue(key, value)) return true;
  keep_error();
  return false;
}

// --- Scheduling -----------------------------------------------------------------------------

void cpu_pause() { YieldProcessor(); }

void yield_thread() { SwitchToThread(); }

// Sleeps until the high-resolution counter shows that `ms` have passed: a single Sleep may end
// early or late by a scheduler tick.
void sleep_ms(std::uint32_t ms) {
  LARGE_INTEGER frequency;
  LARGE_INTEGER start;
  if (!QueryPerformanceFrequency(&frequency) || !QueryPerformanceCounter(&start)) {
    Sleep(ms);
    return;
  }
  const long long ticks = static_cast<long long>(ms) * frequency.QuadPart / 1000;
  for (;;) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const long long left = ticks - (now.QuadPart - start.QuadPart);
    if (left <= 0) return;
    Sleep(static_cast<DWORD>(left * 1000 / frequency.QuadPart));
  }
}

std::uint64_t monotonic_ms() { return GetTickCount64(); }

}  // namespace os
}  // namespace ipc
