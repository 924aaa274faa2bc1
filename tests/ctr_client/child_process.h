// A child process for tests: started with pipes on its standard input and output, read line by
// line on a thread of its own. It is killed if it has not ended a few seconds after its input was
// closed, so no test leaves one behind.
#ifndef KOVA_CTR_TEST_CHILD_PROCESS_H
#define KOVA_CTR_TEST_CHILD_PROCESS_H

#include <sys/types.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ctrtest {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Lines end in "\r\n" (a Windows program's text-mode output): the "\r" is not part of the line.
  // Call before Start.
  void ExpectWindowsLineEnds() { m_windowsLineEnds = true; }
  // Runs argv[0] with the arguments, in workDir unless it is empty. Standard error is inherited.
  bool Start(const std::vector<std::string>& argv, const std::string& workDir = "");
  bool SendLine(const std::string& line);
  using LineTest = std::function<bool(const std::string&)>;
  // The next line at or after the read position that matches; the position moves past it. Lines
  // passed over stay in Lines(); those that `keep` accepts also stay pending: later waits look at
  // them first, in order (an event that arrived while the caller waited for something else).
  std::optional<std::string> WaitLine(const LineTest& match, int timeoutMs, const LineTest& keep = nullptr);
  std::optional<std::string> WaitPrefix(const std::string& prefix, int timeoutMs, const LineTest& keep = nullptr);
  // Every line read so far.
  std::vector<std::string> Lines();
  void CloseInput();
  // Closes the input and waits for the exit: the exit code, or -1 when it had to be killed.
  int Finish(int timeoutMs = 5000);
  pid_t Pid() const { return m_pid; }

 private:
  void ReadOutput(int fd);

  pid_t m_pid = -1;
  bool m_windowsLineEnds = false;
  int m_input = -1;
  std::thread m_reader;
  std::mutex m_lock;
  std::condition_variable m_lineArrived;
  std::vector<std::string> m_lines;
  size_t m_position = 0;
  std::vector<size_t> m_kept;  // lines passed over but still pending, in order
  bool m_ended = false;
  int m_exitCode = -1;
};

}  // namespace ctrtest

#endif  // KOVA_CTR_TEST_CHILD_PROCESS_H
