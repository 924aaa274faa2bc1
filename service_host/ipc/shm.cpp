#include "shm.h"

#include <cstdarg>
#include <cstdio>

#include "ipc_os.h"
#include "ipc_print.h"

namespace ipc {

namespace {

void write_line(FILE* out, const char* fmt, va_list args) {
  char buf[1024];
  int n = std::vsnprintf(buf, sizeof(buf), fmt, args);
  if (n < 0) return;
  std::size_t len = static_cast<std::size_t>(n) < sizeof(buf) ? static_cast<std::size_t>(n)
                                                               : sizeof(buf) - 1;
  std::fwrite(buf, 1, len, out);
  std::fflush(out);
}

}  // namespace

void error_line(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  write_line(stderr, fmt, args);
  va_end(args);
}

void log_line(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  write_line(stdout, fmt, args);
  va_end(args);
}

namespace shm {

struct id_info {
  os::mapping* h = nullptr;
  void* mem = nullptr;
  std::size_t size = 0;  // requested size until mapped, then the mapped size
};

namespace {

constexpr const char* kPrefix = "__IPC_SHM__";

os::open_mode to_open_mode(unsigned mode) {
  if (mode == SHM_OPEN) return os::open_mode::open_only;
  if (mode == SHM_CREATE) return os::open_mode::create_only;
  return os::open_mode::create_or_open;
}

}  // namespace

id_t acquire(const char* name, std::size_t size, unsigned mode) {
  if (name == nullptr || *name == '\0') {
    error_line("fail acquire: name is empty\n");
    return nullptr;
  }
  std::string os_name = std::string(kPrefix) + name;
  os::mapping* h = os::mapping_open(os_name.c_str(), size, to_open_mode(mode));
  if (h == nullptr) {
    error_line("fail CreateFileMapping/OpenFileMapping[%d]: %s\n",
               static_cast<int>(os::last_error()), name);
    return nullptr;
  }
  return new id_info{h, nullptr, size};
}

void* get_mem(id_t id, std::size_t* size) {
  if (id == nullptr) {
    error_line("fail get_mem: invalid id (null)\n");
    return nullptr;
  }
  if (id->mem != nullptr) {
    if (size != nullptr) *size = id->size;
    return id->mem;
  }
  if (id->h == nullptr) {
    error_line("fail to_mem: invalid id (h = null)\n");
    return nullptr;
  }
  std::size_t mapped = 0;
  os::view_failure failure = os::view_failure::none;
  void* mem = os::mapping_view(id->h, &mapped, &failure);
  if (mem == nullptr) {
    if (failure == os::view_failure::query) {
      error_line("fail VirtualQuery[%d]\n", static_cast<int>(os::last_error()));
    } else {
      error_line("fail MapViewOfFile[%d]\n", static_cast<int>(os::last_error()));
    }
    return nullptr;
  }
  id->mem = mem;
  id->size = mapped;
  if (size != nullptr) *size = mapped;
  return mem;
}

std::int32_t release(id_t id) {
  if (id == nullptr) {
    error_line("fail release: invalid id (null)\n");
    return -1;
  }
  if (id->mem != nullptr && id->size > 0) {
    os::mapping_unmap(id->h, id->mem, id->size);
  } else {
    error_line("fail release: invalid id (mem = %p, size = %zd)\n", id->mem,
               static_cast<std::ptrdiff_t>(id->size));
  }
  if (id->h != nullptr) {
    os::mapping_close(id->h);
  } else {
    error_line("fail release: invalid id (h = null)\n");
  }
  delete id;
  return 0;
}

void remove(const char* name) {
  if (name == nullptr || *name == '\0') {
    error_line("fail remove: name is empty\n");
  }
}

bool handle::acquire(const char* name, std::size_t size, unsigned mode) {
  release();
  name_ = name == nullptr ? "" : name;
  id_ = shm::acquire(name, size, mode);
  if (id_ == nullptr) return false;
  mem_ = get_mem(id_, &size_);
  return mem_ != nullptr;
}

void handle::release() {
  if (id_ != nullptr) shm::release(id_);
  id_ = nullptr;
  mem_ = nullptr;
  size_ = 0;
}

}  // namespace shm
}  // namespace ipc
