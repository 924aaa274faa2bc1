#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace ctrtest {

ChildProcess::~ChildProcess() { Finish(); }

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& workDir) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return false;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return false;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  m_pid = fork();
  if (m_pid == 0) {
    // Only async-signal-safe calls between fork and exec.
    dup2(in[0], 0);
    dup2(out[1], 1);
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  if (m_pid < 0) {
    close(in[1]);
    close(out[0]);
    return false;
  }
  m_input = in[1];
  m_reader = std::thread([this, fd = out[0]] { ReadOutput(fd); });
  return true;
}

void ChildProcess::ReadOutput(int fd) {
  std::string pending;
  char chunk[65536];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof(chunk));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(chunk, static_cast<size_t>(n));
    size_t start = 0, end;
    std::lock_guard<std::mutex> hold(m_lock);
    while ((end = pending.find('\n', start)) != std::string::npos) {
      size_t length = end - start;
      if (m_windowsLineEnds && length > 0 && pending[end - 1] == '\r') --length;
      m_lines.push_back(pending.substr(start, length));
      start = end + 1;
    }
    pending.erase(0, start);
    m_lineArrived.notify_all();
  }
  close(fd);
  std::lock_guard<std::mutex> hold(m_lock);
  if (!pending.empty()) m_lines.push_back(pending);
  m_ended = true;
  m_lineArrived.notify_all();
}

bool ChildProcess::SendLine(const std::string& line) {
  if (m_input < 0) return false;
  std::string text = line + "\n";
  return write(m_input, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

std::optional<std::string> ChildProcess::WaitLine(const LineTest& match, int timeoutMs, const LineTest& keep) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> hold(m_lock);
  for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
    if (match(m_lines[*it])) {
      std::string line = m_lines[*it];
      m_kept.erase(it);
      return line;
    }
  }
  for (;;) {
    while (m_position < m_lines.size()) {
      const size_t index = m_position++;
      const std::string& line = m_lines[index];
      if (match(line)) return line;
      if (keep && keep(line)) m_kept.push_back(index);
    }
    if (m_ended) return std::nullopt;
    if (m_lineArrived.wait_until(hold, deadline) == std::cv_status::timeout && m_position >= m_lines.size()) {
      return std::nullopt;
    }
  }
}

std::optional<std::string> ChildProcess::WaitPrefix(const std::string& prefix, int timeoutMs, const LineTest& keep) {
  return WaitLine([&prefix](const std::string& line) { return line.rfind(prefix, 0) == 0; }, timeoutMs, keep);
}

std::vector<std::string> ChildProcess::Lines() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_lines;
}

void ChildProcess::CloseInput() {
  if (m_input >= 0) close(m_input);
  m_input = -1;
}

int ChildProcess::Finish(int timeoutMs) {
  CloseInput();
  if (m_pid > 0) {
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    pid_t r;
    while ((r = waitpid(m_pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
      usleep(10000);
    }
    if (r == 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, &status, 0);
      m_exitCode = -1;
    } else {
      m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    m_pid = -1;
  }
  if (m_reader.joinable()) m_reader.join();
  return m_exitCode;
}

}  // namespace ctrtest
