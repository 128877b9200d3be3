// tamsket-cli on Windows: this machine's registry, other machines' through the
// Remote Registry service, and offline hives.
#include <windows.h>

#include <string>
#include <vector>

#include "cli/cli.h"
#include "hive/file_source.h"
#include "hive/windows_layout.h"
#include "platform/registry.h"
#include "platform/system_function_win32.h"
#include "text/text.h"
#include "text/windows_text.h"

namespace {

class Win32Registry : public cli::Registry {
 public:
  explicit Win32Registry(platform::RegKey root) : root_(root) {}
  // Connected roots are closed at the end; the predefined one needs no closing.
  explicit Win32Registry(platform::UniqueKey connected)
      : root_(connected.get()), owned_(std::move(connected)) {}

  bool hasTwoViews() override { return platform::hasTwoViews(root_); }

  cli::RegistryRead readProductId(cli::View view) override {
    const platform::RegistryValue value = platform::readRegistryValue(
        root_,
        view == cli::View::bits64 ? platform::RegistryView::bits64 : platform::RegistryView::bits32,
        keys::kSetupKey, keys::kProductIdValueName);
    if (value.status == platform::kErrorFileNotFound) return std::optional<cli::RegistryValue>();
    if (value.status == platform::kErrorSuccess) {
      return std::optional<cli::RegistryValue>(cli::RegistryValue{value.type, value.data});
    }
    const std::string where = std::string("HKLM\\") + keys::kSetupKey +
                              (view == cli::View::bits64 ? " (64-bit view)" : " (32-bit view)");
    return cli::Failure{
        value.status == platform::kErrorAccessDenied ? cli::SourceError::accessDenied
                                                     : cli::SourceError::registryError,
        (value.inKey ? "cannot open " + where
                     : "cannot read " + std::string(keys::kProductIdValueName) + " in " + where) +
            ": " + text::systemErrorLine(value.status)};
  }

 private:
  platform::RegKey root_;
  platform::UniqueKey owned_;
};

// Writes all of the text, or gives the system's reason it could not.
cli::WriteStatus writeHandle(DWORD which, const std::string& text) {
  if (text.empty()) return {};
  const HANDLE out = GetStdHandle(which);
  // A program started with the stream closed has no handle for it.
  if (out == nullptr || out == INVALID_HANDLE_VALUE)
    return text::systemErrorLine(ERROR_INVALID_HANDLE);
  DWORD mode;
  if (GetConsoleMode(out, &mode)) {
    // A console shows UTF-16 as given, whatever its code page.
    const std::wstring wide = text::utf8ToWide(text);
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
        return text::systemErrorLine(GetLastError());
      }
      if (written == 0) return text::systemErrorLine(ERROR_WRITE_FAULT);
      done += written;
    }
    return {};
  }
  // Redirected: UTF-8 bytes exactly as formatted, no line-end translation.
  // WriteFile is not buffered: each call's result is the final word on it.
  std::size_t done = 0;
  while (done < text.size()) {
    DWORD written = 0;
    if (!WriteFile(out, text.data() + done, static_cast<DWORD>(text.size() - done), &written,
                   nullptr)) {
      return text::systemErrorLine(GetLastError());
    }
    if (written == 0) return text::systemErrorLine(ERROR_WRITE_FAULT);
    done += written;
  }
  return {};
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

// A folder read with that redirection off, whenever it is listed or a file in
// it is opened, however long after it was found.
class RealSystemFolderView : public hive::Folder {
 public:
  explicit RealSystemFolderView(std::unique_ptr<hive::Folder> folder)
      : folder_(std::move(folder)) {}
  tamsket::Result<std::vector<std::string>, std::string> list() const override {
    RealSystemFolder real;
    return folder_->list();
  }
  hive::Result<std::unique_ptr<hive::ByteSource>> open(const std::string& name) const override {
    RealSystemFolder real;
    return folder_->open(name);
  }
  std::unique_ptr<hive::Folder> openFolder(const std::string& name) const override {
    return std::make_unique<RealSystemFolderView>(folder_->openFolder(name));
  }
  std::string pathOf(const std::string& name) const override { return folder_->pathOf(name); }

 private:
  std::unique_ptr<hive::Folder> folder_;
};

class Win32System : public cli::System {
 public:
  bool hasRegistry() const override { return true; }

  std::string computerName() override {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = ARRAYSIZE(name);
    if (!GetComputerNameW(name, &length)) return "";
    return text::wideToUtf8({name, length});
  }

  tamsket::Result<std::unique_ptr<cli::Registry>, cli::Failure> connectRegistry(
      const cli::Argument* computer) override {
    if (!computer) {
      return std::unique_ptr<cli::Registry>(new Win32Registry(platform::hkeyLocalMachine()));
    }
    platform::UniqueKey root;
    const long status = platform::connectRegistry(computer->native.c_str(), root.receive());
    if (status != ERROR_SUCCESS) {
      return cli::Failure{cli::SourceError::cannotConnect, "cannot connect to the registry of " +
                                                               computer->text + ": " +
                                                               text::systemErrorLine(status)};
    }
    return std::unique_ptr<cli::Registry>(new Win32Registry(std::move(root)));
  }

  hive::SoftwareHives findSoftwareHives(const cli::Argument& dir) override {
    return hive::findSoftwareHives(RealSystemFolderView(hive::folderAt(dir.native, dir.text)),
                                   true);
  }

  hive::Result<hive::Hive> openHive(const cli::Argument& file, hive::Logs logs) override {
    RealSystemFolder real;
    return hive::Hive::open(file.native, logs);
  }

  cli::WriteStatus writeOut(const std::string& text) override {
    return writeHandle(STD_OUTPUT_HANDLE, text);
  }
  cli::WriteStatus closeOut() override { return {}; }
  void writeErr(const std::string& text) override { writeHandle(STD_ERROR_HANDLE, text); }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<cli::Argument> args;
  for (int i = 1; i < argc; ++i) args.push_back({text::wideToUtf8(argv[i]), argv[i]});
  Win32System system;
  return cli::run(args, system);
}
