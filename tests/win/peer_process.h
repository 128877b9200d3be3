#pragma once

// A second process for the Windows tests: the test program runs itself again
// in a peer role, to see the clipboard the way another program does. Every
// test program's main (test_main.cpp) runs the role when asked for one.
//
//   EXPECT_EQ(peer::clipboardSeenByAnotherProcess(), "unicode:abc\nansi:abc\n");
#include <windows.h>

#include <optional>
#include <string>

#include "win/win_test_support.h"

namespace peer {

// Roles of a test program when it runs as the second process.
inline constexpr char kReadClipboard[] = "--read-clipboard";  // prints the clipboard text
inline constexpr char kHoldClipboard[] = "--hold-clipboard";  // keeps it open until stdin closes

inline std::string toUtf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string result(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, result.data(), size, nullptr, nullptr);
  result.resize(size - 1);
  return result;
}

inline std::string toAnsi(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string result(size, '\0');
  WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, result.data(), size, nullptr, nullptr);
  result.resize(size - 1);
  return result;
}

// What the read-clipboard role reports for a clipboard holding `text`.
inline std::string clipboardReport(const std::wstring& text) {
  return "unicode:" + toUtf8(text) + "\nansi:" + toAnsi(text) + "\n";
}

inline void writeOut(const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
}

// One line per format: "unicode:" and "ansi:" followed by the text (UTF-8 and
// the 8-bit code page), or "<format> absent".
inline int readClipboard() {
  if (!OpenClipboard(nullptr)) return 2;
  std::string report;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    report += "unicode:" + toUtf8(static_cast<const wchar_t*>(GlobalLock(data))) + "\n";
    GlobalUnlock(data);
  } else {
    report += "unicode absent\n";
  }
  if (HANDLE data = GetClipboardData(CF_TEXT)) {
    report += std::string("ansi:") + static_cast<const char*>(GlobalLock(data)) + "\n";
    GlobalUnlock(data);
  } else {
    report += "ansi absent\n";
  }
  CloseClipboard();
  writeOut(report);
  return 0;
}

inline int holdClipboard() {
  if (!OpenClipboard(nullptr)) return 2;
  writeOut("held\n");
  char byte;
  DWORD read = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &read, nullptr) && read != 0) {
  }
  CloseClipboard();
  return 0;
}

// The exit code of the role named on the command line, or nothing when the
// program was not started as a peer.
inline std::optional<int> runRoleIfAsked(int argc, char** argv) {
  if (argc != 2) return std::nullopt;
  const std::string role = argv[1];
  if (role == kReadClipboard) return readClipboard();
  if (role == kHoldClipboard) return holdClipboard();
  return std::nullopt;
}

class UniqueHandle {
 public:
  UniqueHandle() = default;
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  HANDLE get() const { return handle_; }
  HANDLE* receive() { return &handle_; }
  void reset() {
    if (handle_) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

// This program run again in one of the roles above, its stdin and stdout piped.
// Waiting for it, the test handles its messages as a window's thread does: a
// Wine program opening the clipboard first asks the clipboard owner's window
// to sync with X11, and waits 5 s for a thread that is merely blocked.
class Helper {
 public:
  explicit Helper(const char* role) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    UniqueHandle childIn, childOut;
    if (!CreatePipe(childIn.receive(), toChild_.receive(), &inherit, 0) ||
        !CreatePipe(fromChild_.receive(), childOut.receive(), &inherit, 0)) {
      return;
    }
    SetHandleInformation(toChild_.get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(fromChild_.get(), HANDLE_FLAG_INHERIT, 0);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string commandLine = std::string("\"") + self + "\" " + role;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn.get();
    startup.hStdOutput = childOut.get();
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &info)) {
      *process_.receive() = info.hProcess;
      CloseHandle(info.hThread);
    }
  }
  ~Helper() {
    if (process_.get() && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.get(), 1);
    }
  }
  Helper(const Helper&) = delete;
  Helper& operator=(const Helper&) = delete;
  bool started() const { return process_.get() != nullptr; }

  // Everything the helper writes, up to its exit.
  std::string output() {
    if (!exitedWithin(10000)) return "helper still running after 10 s";
    std::string text;
    char buffer[256];
    DWORD read = 0;
    while (ReadFile(fromChild_.get(), buffer, sizeof(buffer), &read, nullptr) && read != 0) {
      text.append(buffer, read);
    }
    return text;
  }
  std::string readLine() {
    wintest::pumpUntil(
        [this] {
          DWORD available = 0;
          return !PeekNamedPipe(fromChild_.get(), nullptr, 0, nullptr, &available, nullptr) ||
                 available != 0;
        },
        10000);
    std::string line;
    char c;
    DWORD read = 0;
    while (ReadFile(fromChild_.get(), &c, 1, &read, nullptr) && read != 0 && c != '\n') {
      line += c;
    }
    return line;
  }
  void closeInput() { toChild_.reset(); }
  bool exitedWithin(DWORD ms) {
    return wintest::pumpUntil(
        [this] { return WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0; }, ms);
  }

 private:
  UniqueHandle toChild_, fromChild_, process_;
};

inline std::string clipboardSeenByAnotherProcess() {
  Helper reader(kReadClipboard);
  if (!reader.started()) return "helper did not start";
  return reader.output();
}

}  // namespace peer
