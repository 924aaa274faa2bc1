// Helpers shared by the fuzz targets: a private scratch directory for files an input makes, and a
// private shared-memory file system so that segments an input writes never meet another process's.
#ifndef KOVA_FUZZ_SUPPORT_H
#define KOVA_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace kova_fuzz {

// A directory of this process's own under the system's temporary directory, made on first use and
// kept until the process ends. Aborts when it cannot be made.
const std::string& ScratchDir();

// Removes every file in the scratch directory (the fuzz targets make no subdirectories).
void ClearScratchDir();

// Writes `size` bytes to `path`; aborts when that fails.
void WriteWholeFile(const std::string& path, const uint8_t* data, size_t size);

// Size of the file at `path`, or -1 when it does not exist.
long long FileSize(const std::string& path);

// Moves this process into a mount namespace of its own with an empty tmpfs on /dev/shm, so that the
// named segments, semaphores and mutexes it makes are seen by no other process. Call before any
// thread starts. Aborts when the namespace cannot be had.
void PrivateSharedMemory();

}  // namespace kova_fuzz

#endif  // KOVA_FUZZ_SUPPORT_H
