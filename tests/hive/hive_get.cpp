// hive_get [--no-logs] FILE KEY VALUE   prints the value's type and bytes in hex
// hive_get [--no-logs] FILE -           answers "KEY<tab>VALUE" lines from stdin, one line each:
//                           "ok<tab>TYPE<tab>HEX" or "error<tab>CODE<tab>MESSAGE", after a
//                           first line "state<tab>STATE<tab>MINOR<tab>[no-]logs<tab>LOG REPORT"
// Exit status: 0 found (every lookup, with "-"), 1 not found or an error, 2 usage.
#include <cstdio>
#include <iostream>
#include <string>

#include "hive/hive.h"

namespace {

std::string answer(const hive::Hive& h, const std::string& keyPath, const std::string& name,
                   bool* ok) {
  hive::Result<hive::Key> key = h.findKey(keyPath);
  if (!key) {
    *ok = false;
    return std::string("error\t") + hive::errorCodeName(key.error().code) + "\t" +
           key.error().message;
  }
  hive::Result<hive::Value> value = h.readValue(key.value(), name);
  if (!value) {
    *ok = false;
    return std::string("error\t") + hive::errorCodeName(value.error().code) + "\t" +
           value.error().message;
  }
  std::string out = "ok\t" + std::to_string(value.value().type) + "\t";
  static const char kDigits[] = "0123456789abcdef";
  for (std::uint8_t b : value.value().data) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const bool noLogs = argc > 1 && std::string(argv[1]) == "--no-logs";
  argc -= noLogs;
  argv += noLogs;
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: hive_get FILE KEY VALUE | hive_get FILE -\n");
    return 2;
  }
  hive::Result<hive::Hive> h =
      hive::Hive::open(argv[1], noLogs ? hive::Logs::ignore : hive::Logs::apply);
  if (!h) {
    std::printf("error\t%s\t%s\n", hive::errorCodeName(h.error().code), h.error().message.c_str());
    return 1;
  }
  bool ok = true;
  if (argc == 4) {
    std::printf("%s\n", answer(h.value(), argv[2], argv[3], &ok).c_str());
    return ok ? 0 : 1;
  }
  static const char* const kStates[] = {"clean", "dirty", "recovered"};
  std::printf("state\t%s\t%u\t%s\t%s\n", kStates[static_cast<int>(h.value().state())],
              h.value().minorVersion(), h.value().hasLogFiles() ? "logs" : "no-logs",
              h.value().logReport().c_str());
  std::string line;
  while (std::getline(std::cin, line)) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) {
      std::printf("error\tusage\texpected KEY<tab>VALUE\n");
      ok = false;
      continue;
    }
    std::printf("%s\n", answer(h.value(), line.substr(0, tab), line.substr(tab + 1), &ok).c_str());
  }
  return ok ? 0 : 1;
}
