// tamsket-cli on Windows: this machine's registry, other machines' through the
// Remote Registry service, and offline hives.
#include <windows.h>

#include <string>
#include <vector>

#include "cli/cli.h"
#include "text/text.h"
#include "platform/system_function.h"
#include "platform/unique_handle.h"

namespace {

using UniqueKey = platform::UniqueHandle<HKEY, RegCloseKey>;

// A value that keeps changing size between the size query and the read is
// given up on after this many tries.
constexpr int kQueryAttempts = 8;

std::string toUtf8(const wchar_t* text, std::size_t length) {
  return text::utf16ToUtf8(reinterpret_cast<const char16_t*>(text), length);
}

std::wstring toWide(const std::string& text) {
  const std::u16string wide = text::utf8ToUtf16(text);
  return std::wstring(wide.begin(), wide.end());
}

// The system's own words for an error code, without the closing full stop,
// and the code: "The network path was not found (error 53)".
std::string systemMessage(DWORD error) {
  wchar_t text[512];
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0, text, ARRAYSIZE(text), nullptr);
  while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' ||
                        text[length - 1] == L' ' || text[length - 1] == L'.')) {
    --length;
  }
  std::string message = length ? toUtf8(text, length) + " " : "";
  return message + "(error " + std::to_string(error) + ")";
}

cli::SourceError errorCodeFor(LONG status) {
  return status == ERROR_ACCESS_DENIED ? cli::SourceError::accessDenied
                                       : cli::SourceError::registryError;
}

class Win32Registry : public cli::Registry {
 public:
  // `owned` roots come from RegConnectRegistryW and are closed at the end.
  Win32Registry(HKEY root, bool owned) : root_(root), owned_(owned ? root : nullptr) {}

  // 64-bit Windows keeps the 32-bit view under SOFTWARE\Wow6432Node of the 64-bit one;
  // 32-bit Windows ignores KEY_WOW64_64KEY and has no such key.
  bool hasTwoViews() override {
    UniqueKey key;
    const LONG status = RegOpenKeyExW(root_, L"SOFTWARE\\Wow6432Node", 0,
                                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.receive());
    return status != ERROR_FILE_NOT_FOUND;
  }

  cli::RegistryRead readProductId(cli::View view) override {
    cli::RegistryRead read;
    const REGSAM sam =
        KEY_QUERY_VALUE | (view == cli::View::bits64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
    const std::string where = std::string("HKLM\\") + kSetupKey +
                              (view == cli::View::bits64 ? " (64-bit view)" : " (32-bit view)");
    UniqueKey setup;
    LONG status = RegOpenKeyExW(root_, toWide(kSetupKey).c_str(), 0, sam, setup.receive());
    if (status == ERROR_FILE_NOT_FOUND) return read;
    if (status != ERROR_SUCCESS) {
      return failed(status, "cannot open " + where + ": " + systemMessage(status));
    }
    // Sized by asking: the first query gives the size, and a value that grew
    // in between answers ERROR_MORE_DATA with its new size.
    const std::wstring valueName = toWide(kProductIdValueName);
    DWORD type = 0;
    std::vector<std::uint8_t> data;
    for (int attempt = 0; attempt < kQueryAttempts; ++attempt) {
      DWORD size = static_cast<DWORD>(data.size());
      status = RegQueryValueExW(setup.get(), valueName.c_str(), nullptr, &type,
                                data.empty() ? nullptr : data.data(), &size);
      if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && data.empty() && size > 0)) {
        data.resize(size);
        continue;
      }
      if (status == ERROR_SUCCESS) data.resize(size);
      break;
    }
    if (status == ERROR_FILE_NOT_FOUND) return read;
    if (status != ERROR_SUCCESS) {
      return failed(status, "cannot read " + std::string(kProductIdValueName) + " in " + where +
                                ": " + systemMessage(status));
    }
    read.outcome = cli::RegistryRead::Outcome::value;
    read.type = type;
    read.data = std::move(data);
    return read;
  }

 private:
  static cli::RegistryRead failed(LONG status, std::string message) {
    cli::RegistryRead read;
    read.outcome = cli::RegistryRead::Outcome::failed;
    read.errorCode = errorCodeFor(status);
    read.errorMessage = std::move(message);
    return read;
  }

  HKEY root_;
  UniqueKey owned_;
};

// "" or the system's reason the text could not all be written.
std::string writeHandle(DWORD which, const std::string& text) {
  if (text.empty()) return "";
  const HANDLE out = GetStdHandle(which);
  // A program started with the stream closed has no handle for it.
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return systemMessage(ERROR_INVALID_HANDLE);
  DWORD mode;
  if (GetConsoleMode(out, &mode)) {
    // A console shows UTF-16 as given, whatever its code page.
    const std::wstring wide = toWide(text);
    std::size_t done = 0;
    while (done < wide.size()) {
      std::size_t chunk = wide.size() - done < 4096 ? wide.size() - done : 4096;
      // Keep a surrogate pair within one write.
      if (chunk < wide.size() - done && wide[done + chunk - 1] >= 0xD800 &&
          wide[done + chunk - 1] <= 0xDBFF) {
        ++chunk;
      }
      DWORD written = 0;
      if (!WriteConsoleW(out, wide.data() + done, static_cast<DWORD>(chunk), &written, nullptr)) {
        return systemMessage(GetLastError());
      }
      if (written == 0) return systemMessage(ERROR_WRITE_FAULT);
      done += written;
    }
    return "";
  }
  // Redirected: UTF-8 bytes exactly as formatted, no line-end translation.
  // WriteFile is not buffered: each call's result is the final word on it.
  std::size_t done = 0;
  while (done < text.size()) {
    DWORD written = 0;
    if (!WriteFile(out, text.data() + done, static_cast<DWORD>(text.size() - done), &written,
                   nullptr)) {
      return systemMessage(GetLastError());
    }
    if (written == 0) return systemMessage(ERROR_WRITE_FAULT);
    done += written;
  }
  return "";
}

// A 32-bit program on 64-bit Windows is shown SysWOW64 where it names
// System32; the hive in C:\Windows\System32\config is the 64-bit system's
// own, so files and folders are looked up with that redirection off, and only
// for as long as that takes (DLLs loaded meanwhile would be the wrong ones).
// Windows XP (32-bit) has neither function and no redirection.
class RealSystemFolder {
 public:
  RealSystemFolder() {
#ifndef _WIN64
    using Disable = BOOL(WINAPI*)(PVOID*);
    const auto disable =
        platform::systemFunction<Disable>(L"kernel32.dll", "Wow64DisableWow64FsRedirection");
    disabled_ = disable && disable(&previous_);
#endif
  }
  ~RealSystemFolder() {
#ifndef _WIN64
    using Revert = BOOL(WINAPI*)(PVOID);
    const auto revert =
        platform::systemFunction<Revert>(L"kernel32.dll", "Wow64RevertWow64FsRedirection");
    if (disabled_ && revert) revert(previous_);
#endif
  }
  RealSystemFolder(const RealSystemFolder&) = delete;
  RealSystemFolder& operator=(const RealSystemFolder&) = delete;

 private:
  PVOID previous_ = nullptr;
  bool disabled_ = false;
};

class Win32Platform : public cli::Platform {
 public:
  bool hasRegistry() const override { return true; }

  std::string computerName() override {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = ARRAYSIZE(name);
    if (!GetComputerNameW(name, &length)) return "";
    return toUtf8(name, length);
  }

  std::unique_ptr<cli::Registry> connectRegistry(const cli::Argument* computer,
                                                 cli::ErrorCode& code,
                                                 std::string& message) override {
    if (!computer) return std::make_unique<Win32Registry>(HKEY_LOCAL_MACHINE, false);
    HKEY root = nullptr;
    const LONG status = RegConnectRegistryW(computer->native.c_str(), HKEY_LOCAL_MACHINE, &root);
    if (status != ERROR_SUCCESS) {
      code = cli::SourceError::cannotConnect;
      message =
          "cannot connect to the registry of " + computer->text + ": " + systemMessage(status);
      return nullptr;
    }
    return std::make_unique<Win32Registry>(root, true);
  }

  // Windows file systems ignore letter case themselves.
  cli::EntryLookup findEntry(const cli::Argument& dir, const std::string& name) override {
    RealSystemFolder real;
    const DWORD folder = GetFileAttributesW(dir.native.c_str());
    if (folder == INVALID_FILE_ATTRIBUTES) {
      return {std::nullopt, "cannot open " + dir.text + ": " + systemMessage(GetLastError())};
    }
    if (!(folder & FILE_ATTRIBUTE_DIRECTORY)) {
      return {std::nullopt, "cannot open " + dir.text + ": " + systemMessage(ERROR_DIRECTORY)};
    }
    cli::Argument entry = dir;
    if (entry.native.empty() || (entry.native.back() != L'\\' && entry.native.back() != L'/')) {
      entry.native += L'\\';
      entry.text += '\\';
    }
    entry.native += toWide(name);
    entry.text += name;
    if (GetFileAttributesW(entry.native.c_str()) != INVALID_FILE_ATTRIBUTES) return {entry, ""};
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
    return {std::nullopt, "cannot open " + entry.text + ": " + systemMessage(error)};
  }

  hive::Result<hive::Hive> openHive(const cli::Argument& file, hive::Logs logs) override {
    RealSystemFolder real;
    return hive::Hive::open(file.native, logs);
  }

  std::string writeOut(const std::string& text) override {
    return writeHandle(STD_OUTPUT_HANDLE, text);
  }
  std::string closeOut() override { return ""; }
  void writeErr(const std::string& text) override { writeHandle(STD_ERROR_HANDLE, text); }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<cli::Argument> args;
  for (int i = 1; i < argc; ++i) args.push_back({toUtf8(argv[i], wcslen(argv[i])), argv[i]});
  Win32Platform platform;
  return cli::run(args, platform);
}
