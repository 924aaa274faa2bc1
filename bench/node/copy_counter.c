/* Preloaded into a benchmark process (LD_PRELOAD) to count large memory copies per thread kind:
 * copies of at least 64 KiB made on the process's main thread (the JavaScript thread) and on any
 * other thread. A frame's planes copied once on the SDK thread and then handed to JavaScript without
 * a further copy show up as three "other" copies per frame and no "main" copy.
 * The copy itself is done by memmove, which never calls back into memcpy. */
#define _GNU_SOURCE
#include <stdatomic.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

enum { kLargeCopy = 64 * 1024 };

static atomic_uint_fast64_t g_main;
static atomic_uint_fast64_t g_other;

static void count_copy(size_t n) {
    if (n < kLargeCopy) return;
    if ((pid_t)syscall(SYS_gettid) == getpid()) {
        atomic_fetch_add_explicit(&g_main, 1, memory_order_relaxed);
    } else {
        atomic_fetch_add_explicit(&g_other, 1, memory_order_relaxed);
    }
}

__attribute__((visibility("default"))) void* memcpy(void* dst, const void* src, size_t n) {
    count_copy(n);
    return memmove(dst, src, n);
}

__attribute__((visibility("default"))) void* __memcpy_chk(void* dst, const void* src, size_t n, size_t dstlen) {
    (void)dstlen;
    count_copy(n);
    return memmove(dst, src, n);
}

__attribute__((visibility("default"))) void kova_copy_counts(uint64_t* main_thread, uint64_t* other_threads) {
    *main_thread = atomic_load(&g_main);
    *other_threads = atomic_load(&g_other);
}
