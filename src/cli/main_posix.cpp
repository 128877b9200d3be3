// tamsket-cli on Linux and other POSIX systems: offline hives only.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace {

bool equalsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
           return lower(x) == lower(y);
         });
}

void writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a closed pipe: nobody is reading any more
    done += static_cast<std::size_t>(n);
  }
}

class PosixPlatform : public cli::Platform {
 public:
  bool hasRegistry() const override { return false; }
  std::string computerName() override { return ""; }
  std::unique_ptr<cli::Registry> connectRegistry(const cli::Argument*, std::string& code,
                                                 std::string& message) override {
    code = "cannot-connect";
    message = "this system has no Windows registry";
    return nullptr;
  }

  // A disk mounted from Windows keeps its names' letter case, which this
  // system's file names do not ignore: the exact name is taken when it is
  // there, else the first of the others in sorted order, so runs agree.
  std::optional<cli::Argument> findEntry(const cli::Argument& dir,
                                         const std::string& name) override {
    DIR* listing = ::opendir(dir.native.c_str());
    if (!listing) return std::nullopt;
    std::vector<std::string> matches;
    while (const dirent* entry = ::readdir(listing)) {
      if (equalsIgnoringAsciiCase(entry->d_name, name)) matches.emplace_back(entry->d_name);
    }
    ::closedir(listing);
    if (matches.empty()) return std::nullopt;
    std::sort(matches.begin(), matches.end());
    const auto exact = std::find(matches.begin(), matches.end(), name);
    const std::string& chosen = exact != matches.end() ? *exact : matches.front();
    std::string path = dir.native;
    if (path.empty() || path.back() != '/') path += '/';
    path += chosen;
    return cli::Argument{path, path};
  }

  void writeOut(const std::string& text) override { writeAll(STDOUT_FILENO, text); }
  void writeErr(const std::string& text) override { writeAll(STDERR_FILENO, text); }
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<cli::Argument> args;
  for (int i = 1; i < argc; ++i) args.push_back({argv[i], argv[i]});
  PosixPlatform platform;
  return cli::run(args, platform);
}
