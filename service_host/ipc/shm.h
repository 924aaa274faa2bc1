// Named shared-memory segments.
//
// A segment is reached by name from any process: the operating-system object is "__IPC_SHM__"
// followed by the name. A new segment is zero-filled (the objects that live in segments rely on
// all-zero bytes being their initial state); a process that opens an existing segment gets its
// existing size. A segment exists while some process has it open and is removed with its last
// user; `remove` only checks the name.
//
// Failures print one line on standard error and give a null/false result. Thread-safe.
#ifndef KOVA_IPC_SHM_H
#define KOVA_IPC_SHM_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace ipc {
namespace shm {

enum : unsigned {
  SHM_CREATE = 1,  // create; fail when the name exists
  SHM_OPEN = 2,    // open; fail when the name does not exist
  SHM_CREATE_OR_OPEN = SHM_CREATE | SHM_OPEN,
};

struct id_info;
using id_t = id_info*;

id_t acquire(const char* name, std::size_t size, unsigned mode = SHM_CREATE_OR_OPEN);
// Maps the segment on first use; returns the address (null on failure) and the mapped size.
void* get_mem(id_t id, std::size_t* size);
// Unmaps and closes; 0, or -1 for a missing id.
std::int32_t release(id_t id);
void remove(const char* name);

// Owns one mapped segment; acquiring again or destroying it releases the previous one.
class handle {
 public:
  handle() = default;
  handle(const char* name, std::size_t size, unsigned mode = SHM_CREATE_OR_OPEN) {
    acquire(name, size, mode);
  }
  ~handle() { release(); }
  handle(const handle&) = delete;
  handle& operator=(const handle&) = delete;

  // True when the segment is mapped.
  bool acquire(const char* name, std::size_t size, unsigned mode = SHM_CREATE_OR_OPEN);
  void release();

  bool valid() const { return mem_ != nullptr; }
  bool acquired() const { return id_ != nullptr; }
  void* get() const { return mem_; }
  std::size_t size() const { return size_; }
  const std::string& name() const { return name_; }

 private:
  id_t id_ = nullptr;
  void* mem_ = nullptr;
  std::size_t size_ = 0;
  std::string name_;
};

}  // namespace shm
}  // namespace ipc

#endif  // KOVA_IPC_SHM_H
