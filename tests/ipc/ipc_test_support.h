// Helpers for the IPC tests: unique names, captured output, child processes with time-outs,
// and a raw view of shared-memory objects as another process sees them.
#ifndef KOVA_IPC_TEST_SUPPORT_H
#define KOVA_IPC_TEST_SUPPORT_H

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace ipc_test {

// A name no other test run uses: the pid keeps parallel runs apart.
inline std::string unique_name(const char* tag) {
  static int counter = 0;
  return std::string("kt_") + tag + "_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

// Names of /dev/shm entries that contain `part`.
inline std::vector<std::string> shm_entries(const std::string& part) {
  std::vector<std::string> found;
  if (DIR* d = opendir("/dev/shm")) {
    while (dirent* e = readdir(d)) {
      if (std::string(e->d_name).find(part) != std::string::npos) found.push_back(e->d_name);
    }
    closedir(d);
  }
  return found;
}

// Captures what is written to standard output and standard error (file descriptors 1 and 2)
// between construction and finish().
class captured_output {
 public:
  captured_output() {
    std::fflush(stdout);
    std::fflush(stderr);
    for (int i = 0; i < 2; ++i) {
      saved_[i] = dup(i + 1);
      files_[i] = memfd_create("captured", 0);
      dup2(files_[i], i + 1);
    }
  }
  ~captured_output() { finish(); }

  void finish() {
    if (done_) return;
    done_ = true;
    std::fflush(stdout);
    std::fflush(stderr);
    for (int i = 0; i < 2; ++i) {
      dup2(saved_[i], i + 1);
      close(saved_[i]);
      std::string& text = i == 0 ? out_ : err_;
      lseek(files_[i], 0, SEEK_SET);
      char buf[4096];
      ssize_t n;
      while ((n = read(files_[i], buf, sizeof(buf))) > 0) text.append(buf, static_cast<size_t>(n));
      close(files_[i]);
    }
  }
  const std::string& out() {
    finish();
    return out_;
  }
  const std::string& err() {
    finish();
    return err_;
  }

 private:
  int saved_[2];
  int files_[2];
  bool done_ = false;
  std::string out_, err_;
};

// Counts how often `needle` occurs in `text`.
inline int count_of(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// A child process running `body`; the child ends with body's result as exit code and is killed
// by alarm() should it outlive `max_seconds`. The child must not use the parent's IPC objects.
class child_process {
 public:
  explicit child_process(std::function<int(int ready_fd)> body, unsigned max_seconds = 60) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      alarm(max_seconds);
      int rc = body(fds[1]);
      _exit(rc);
    }
    close(fds[1]);
    ready_ = fds[0];
  }
  ~child_process() {
    kill_now();
    if (ready_ >= 0) close(ready_);
  }

  bool started() const { return pid_ > 0; }

  // Waits until the child wrote one byte on its ready descriptor.
  bool wait_ready(int timeout_ms = 10000) {
    pollfd p{ready_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) != 1) return false;
    char c;
    return read(ready_, &c, 1) == 1;
  }

  // Exit code of the child, or -1 when it did not end in time (it is then killed) or was killed.
  int join(int timeout_ms = 30000) {
    if (pid_ <= 0) return -1;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      int status = 0;
      pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        kill_now();
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  void kill_now() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

 private:
  pid_t pid_ = -1;
  int ready_ = -1;
};

inline void signal_ready(int fd) {
  char c = 1;
  (void)!write(fd, &c, 1);
}

}  // namespace ipc_test

#endif  // KOVA_IPC_TEST_SUPPORT_H
