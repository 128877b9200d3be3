#pragma once

// The test program run again in a peer role, to see the clipboard the way
// another program does; test_main.cpp plays the role when started for one.
//
//   EXPECT_EQ(peer::clipboardSeenByAnotherProcess(), peer::clipboardReport(L"abc"));
#include <windows.h>

#include <cstring>
#include <optional>
#include <string>

#include "handle/windows_handles.h"
#include "win/win_test_support.h"

namespace peer {

inline constexpr char kReadClipboard[] = "--read-clipboard";  // prints the clipboard's texts
inline constexpr char kHoldClipboard[] = "--hold-clipboard";  // keeps it open until ended

using Handle = tamsket::UniqueKernelHandle;

inline std::string narrow(const std::wstring& text, UINT codePage) {
  const int size = WideCharToMultiByte(codePage, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string result(size, '\0');
  WideCharToMultiByte(codePage, 0, text.c_str(), -1, result.data(), size, nullptr, nullptr);
  result.pop_back();  // the terminator
  return result;
}

// What the reading peer prints for a clipboard holding `text`: the Unicode
// text as UTF-8, then the 8-bit text; "<format> absent" for one missing.
inline std::string clipboardReport(const std::wstring& text) {
  return "unicode:" + narrow(text, CP_UTF8) + "\nansi:" + narrow(text, CP_ACP) + "\n";
}

inline void writeOut(const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
}

inline int readClipboard() {
  if (!OpenClipboard(nullptr)) return 2;
  std::string unicode = "unicode absent\n", ansi = "ansi absent\n";
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    unicode = "unicode:" + narrow(static_cast<const wchar_t*>(GlobalLock(data)), CP_UTF8) + "\n";
    GlobalUnlock(data);
  }
  if (HANDLE data = GetClipboardData(CF_TEXT)) {
    ansi = "ansi:" + std::string(static_cast<const char*>(GlobalLock(data))) + "\n";
    GlobalUnlock(data);
  }
  CloseClipboard();
  writeOut(unicode + ansi);
  return 0;
}

inline int holdClipboard() {
  if (!OpenClipboard(nullptr)) return 2;
  writeOut("held\n");
  Sleep(INFINITE);
  return 0;
}

// The exit code of the role named on the command line, or nothing when the
// program was not started as a peer.
inline std::optional<int> runRoleIfAsked(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], kReadClipboard) == 0) return readClipboard();
  if (argc == 2 && std::strcmp(argv[1], kHoldClipboard) == 0) return holdClipboard();
  return std::nullopt;
}

// A peer, its stdout piped. Waiting for it, the test handles its messages: a
// Wine program opening the clipboard first asks the owner's window to sync
// with X11, and waits 5 s for a thread that is merely blocked.
class Peer {
 public:
  explicit Peer(const char* role) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    Handle childOut;
    CreatePipe(fromChild_.receive(), childOut.receive(), &inherit, 0);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string commandLine = std::string("\"") + self + "\" " + role;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = childOut.get();
    PROCESS_INFORMATION info{};
    if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &info)) {
      process_.reset(info.hProcess);
      CloseHandle(info.hThread);
    }
  }
  ~Peer() { end(); }

  // What the peer has written, once it has written something or ended.
  std::string read() {
    DWORD available = 0;
    wintest::pumpUntil(
        [&] {
          return !PeekNamedPipe(fromChild_.get(), nullptr, 0, nullptr, &available, nullptr) ||
                 available != 0;
        },
        10000);
    std::string text(available, '\0');
    DWORD got = 0;
    if (available) ReadFile(fromChild_.get(), text.data(), available, &got, nullptr);
    return text.substr(0, got);
  }

  // Ends the peer, which lets go of the clipboard; returns whether it ended.
  bool end() {
    TerminateProcess(process_.get(), 0);
    return wintest::pumpUntil(
        [this] { return WaitForSingleObject(process_.get(), 0) != WAIT_TIMEOUT; }, 10000);
  }

 private:
  Handle fromChild_, process_;
};

inline std::string clipboardSeenByAnotherProcess() { return Peer(kReadClipboard).read(); }

// Leaves the clipboard holding only 8-bit text, as an older program puts it
// there: a Copy that leaves any of it behind shows.
inline void placeAnsiText(HWND owner, const std::string& text) {
  ASSERT_TRUE(OpenClipboard(owner));
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  std::memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
  GlobalUnlock(memory);
  EXPECT_NE(SetClipboardData(CF_TEXT, memory), nullptr);
  CloseClipboard();
}

}  // namespace peer
