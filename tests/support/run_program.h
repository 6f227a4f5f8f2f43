// Runs a program to its end from a test, with its stdout and stderr in files, in a given
// folder, and ends it when it takes too long (a hang is a failure, not a stuck test). The
// Windows half also runs under Wine, where a Windows test program starts zgl.exe itself.
#pragma once

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace zemlo::testing {

struct ProgramResult {
  int status = -1;  // exit status; -1 when it could not be started or was ended
  bool timed_out = false;
  std::string out;
  std::string err;
};

inline std::string ReadText(const std::filesystem::path& p) {
  const auto bytes = ReadFileBytes(p);
  return {bytes.begin(), bytes.end()};
}

// A started program, still running until Wait.
class Program {
 public:
  Program(const std::string& program, const std::vector<std::string>& args,
          const std::filesystem::path& folder, const std::filesystem::path& out_file,
          const std::filesystem::path& err_file)
      : out_file_(out_file), err_file_(err_file) {
#if defined(_WIN32)
    std::string line = Quote(program);
    for (const auto& a : args) {
      line.push_back(' ');
      line += Quote(a);
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const auto open = [&](const std::filesystem::path& p) {
      return CreateFileA(p.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    const HANDLE out = open(out_file), err = open(err_file);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::vector<char> text(line.begin(), line.end());
    text.push_back('\0');
    const std::string dir = folder.string();
    started_ =
        CreateProcessA(nullptr, text.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP,
                       nullptr, dir.c_str(), &startup, &process_) != FALSE;
    CloseHandle(out);
    CloseHandle(err);
#else
    pid_ = ::fork();
    if (pid_ == 0) {
      const int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || err < 0 || ::chdir(folder.c_str()) != 0) ::_exit(126);
      ::dup2(out, STDOUT_FILENO);
      ::dup2(err, STDERR_FILENO);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(program.c_str()));
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    started_ = pid_ > 0;
#endif
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  ~Program() {
    if (!waited_) Wait(std::chrono::seconds(0));
  }

  bool started() const { return started_; }

#if defined(_WIN32)
  DWORD process_group() const { return process_.dwProcessId; }
#else
  pid_t pid() const { return pid_; }
#endif

  // Waits up to `limit` for the end; a program still running then is ended.
  ProgramResult Wait(std::chrono::milliseconds limit) {
    waited_ = true;
    ProgramResult result;
    if (!started_) return result;
#if defined(_WIN32)
    if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(limit.count())) !=
        WAIT_OBJECT_0) {
      result.timed_out = true;
      TerminateProcess(process_.hProcess, 255);
      WaitForSingleObject(process_.hProcess, INFINITE);
    } else {
      DWORD code = 0;
      GetExitCodeProcess(process_.hProcess, &code);
      result.status = static_cast<int>(code);
    }
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
#else
    const auto end = std::chrono::steady_clock::now() + limit;
    int wait_status = 0;
    for (;;) {
      const pid_t done = ::waitpid(pid_, &wait_status, WNOHANG);
      if (done == pid_) break;
      if (std::chrono::steady_clock::now() >= end) {
        result.timed_out = true;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &wait_status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!result.timed_out && WIFEXITED(wait_status)) result.status = WEXITSTATUS(wait_status);
#endif
    result.out = ReadText(out_file_);
    result.err = ReadText(err_file_);
    return result;
  }

 private:
#if defined(_WIN32)
  static std::string Quote(const std::string& a) {
    std::string quoted(1, '"');
    quoted += a;
    quoted.push_back('"');
    return quoted;
  }
  PROCESS_INFORMATION process_{};
#else
  pid_t pid_ = -1;
#endif
  std::filesystem::path out_file_;
  std::filesystem::path err_file_;
  bool started_ = false;
  bool waited_ = false;
};

// A path a Windows program started by another one can use: under Wine the build's paths
// are Linux paths, which Windows reaches through drive Z:.
inline std::string ProgramPath(std::string path) {
#if defined(_WIN32)
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
#endif
  return path;
}

}  // namespace zemlo::testing
