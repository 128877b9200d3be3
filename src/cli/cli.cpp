#include "cli/cli.h"

#include <iterator>

#include "cli/output.h"

#ifndef TAMSKET_VERSION
#define TAMSKET_VERSION "0"
#endif

namespace cli {

namespace {

constexpr char kSetupPath[] = "Microsoft\\Exchange\\Setup";
constexpr char kWow64Setup[] = "Wow6432Node\\Microsoft\\Exchange\\Setup";

constexpr int kExitAllFound = 0;
constexpr int kExitSomeMissing = 1;
constexpr int kExitTrouble = 2;

std::string viewLabel(View view) { return view == View::bits64 ? "64-bit view" : "32-bit view"; }

KeyRecord recordFor(SourceKind source, const std::string& location) {
  KeyRecord record;
  record.source = source;
  record.location = location;
  return record;
}

void setError(KeyRecord& record, std::string code, std::string message) {
  record.status = Status::error;
  record.errorCode = std::move(code);
  record.errorMessage = std::move(message);
}

std::string describeMachine(SourceKind source, const std::string& location) {
  return source == SourceKind::registry ? "this computer (" + location + ")" : location;
}

void applyHiveState(const hive::Hive& file, KeyRecord& record) {
  record.hiveState = file.state() == hive::HiveState::dirty ? HiveState::dirty : HiveState::clean;
  record.hasLogFiles = file.hasLogFiles();
}

// The message for a hive that cannot be read; one in use is most likely the
// SOFTWARE hive of the Windows that is running.
std::string hiveErrorMessage(const hive::Error& error) {
  if (error.code != hive::ErrorCode::inUse) return error.message;
  return error.message +
         "; a running Windows keeps its own hive open like this: read that machine's live "
         "registry instead (tamsket-cli without --hive, or --computer NAME)";
}

}  // namespace

std::vector<KeyRecord> readRegistry(Registry& registry, SourceKind source,
                                    const std::string& location) {
  std::vector<KeyRecord> records;
  const bool twoViews = registry.hasTwoViews();
  for (const View view : {View::bits32, View::bits64}) {
    if (view == View::bits64 && !twoViews) break;
    const RegistryRead read = registry.readProductId(view);
    if (read.outcome == RegistryRead::Outcome::missing) continue;
    KeyRecord record = recordFor(source, location);
    record.view = view;
    record.place = "HKLM\\SOFTWARE\\" + std::string(kSetupPath) + " (" + viewLabel(view) + ") on " +
                   describeMachine(source, location);
    if (read.outcome == RegistryRead::Outcome::failed) {
      setError(record, read.errorCode, read.errorMessage);
    } else {
      decodeValue(read.type, read.data, record);
    }
    records.push_back(std::move(record));
  }
  if (records.empty()) {
    KeyRecord record = recordFor(source, location);
    record.place = "no " + std::string(kValueName) + " in HKLM\\SOFTWARE\\" + kSetupPath + " (" +
                   (twoViews ? "32-bit or 64-bit view" : "its only view") + ") on " +
                   describeMachine(source, location);
    records.push_back(std::move(record));
  }
  return records;
}

std::vector<KeyRecord> readHiveFile(const Argument& file) {
  std::vector<KeyRecord> records;
  KeyRecord base = recordFor(SourceKind::hive, file.text);
  base.place = file.text;
  auto opened = hive::Hive::open(file.native);
  if (!opened) {
    setError(base, hive::errorCodeName(opened.error().code), hiveErrorMessage(opened.error()));
    return {base};
  }
  const hive::Hive& software = opened.value();
  applyHiveState(software, base);

  // A 64-bit Windows keeps its 32-bit programs' keys under Wow6432Node; a
  // 32-bit one has no such key and Microsoft\... is its only view.
  auto wow64 = software.findKey("Wow6432Node");
  if (!wow64 && wow64.error().code != hive::ErrorCode::keyNotFound) {
    setError(base, hive::errorCodeName(wow64.error().code), wow64.error().message);
    return {base};
  }
  struct Place {
    const char* path;
    View view;
  };
  constexpr Place kTwoViews[] = {{kWow64Setup, View::bits32}, {kSetupPath, View::bits64}};
  constexpr Place kOneView[] = {{kSetupPath, View::bits32}};
  const Place* const begin = wow64 ? kTwoViews : kOneView;
  const Place* const end = wow64 ? std::end(kTwoViews) : std::end(kOneView);
  for (const Place* place = begin; place != end; ++place) {
    KeyRecord record = base;
    record.view = place->view;
    record.place = file.text + ": " + place->path + " (" + viewLabel(place->view) + ")";
    auto key = software.findKey(place->path);
    if (!key) {
      if (key.error().code == hive::ErrorCode::keyNotFound) continue;
      setError(record, hive::errorCodeName(key.error().code), key.error().message);
      records.push_back(std::move(record));
      continue;
    }
    auto value = software.readValue(key.value(), kValueName);
    if (!value) {
      if (value.error().code == hive::ErrorCode::valueNotFound) continue;
      setError(record, hive::errorCodeName(value.error().code), value.error().message);
      records.push_back(std::move(record));
      continue;
    }
    decodeValue(value.value().type, value.value().data, record);
    records.push_back(std::move(record));
  }
  if (records.empty()) {
    base.place = file.text + ": no " + std::string(kValueName) + " in " +
                 (wow64 ? std::string(kSetupPath) + " or " + kWow64Setup : kSetupPath);
    records.push_back(std::move(base));
  }
  return records;
}

std::optional<Argument> findSoftwareHive(Platform& platform, const Argument& dir) {
  // The Windows folder itself, then the root of its volume.
  constexpr const char* kCandidates[][4] = {
      {"System32", "config", "SOFTWARE", nullptr},
      {"Windows", "System32", "config", "SOFTWARE"},
  };
  for (const auto& names : kCandidates) {
    std::optional<Argument> at = dir;
    for (const char* name : names) {
      if (!name) break;
      at = platform.findEntry(*at, name);
      if (!at) break;
    }
    if (at) return at;
  }
  return std::nullopt;
}

int run(const std::vector<Argument>& args, Platform& platform) {
  Options options;
  const std::string problem = parseCommandLine(args, platform.hasRegistry(), options);
  if (!problem.empty()) {
    platform.writeErr("tamsket-cli: " + problem + "\nTry 'tamsket-cli --help'.\n");
    return kExitTrouble;
  }
  if (options.help) {
    platform.writeOut(usageText(platform.hasRegistry()));
    return kExitAllFound;
  }
  if (options.version) {
    platform.writeOut("tamsket-cli " TAMSKET_VERSION "\n");
    return kExitAllFound;
  }

  bool anyMissing = false;
  bool anyTrouble = false;
  bool first = true;
  platform.writeOut(formatHeader(options.format));
  for (const SourceRequest& request : options.sources) {
    std::vector<KeyRecord> records;
    std::string sourceLabel;
    switch (request.kind) {
      case Request::localRegistry:
      case Request::computer: {
        const bool local = request.kind == Request::localRegistry;
        const SourceKind kind = local ? SourceKind::registry : SourceKind::computer;
        const std::string location = local ? platform.computerName() : request.argument.text;
        sourceLabel = local ? "this computer's registry" : "computer " + location;
        std::string code, message;
        auto registry =
            platform.connectRegistry(local ? nullptr : &request.argument, code, message);
        if (registry) {
          records = readRegistry(*registry, kind, location);
        } else {
          KeyRecord record = recordFor(kind, location);
          record.place = describeMachine(kind, location);
          setError(record, code, message);
          records.push_back(std::move(record));
        }
        break;
      }
      case Request::hive:
        sourceLabel = "hive " + request.argument.text;
        records = readHiveFile(request.argument);
        break;
      case Request::windowsFolder: {
        sourceLabel = "windows folder " + request.argument.text;
        if (auto file = findSoftwareHive(platform, request.argument)) {
          records = readHiveFile(*file);
        } else {
          KeyRecord record = recordFor(SourceKind::hive, request.argument.text);
          record.place = request.argument.text;
          setError(record, "no-hive-found",
                   "no System32\\config\\SOFTWARE in it nor in a Windows folder inside it");
          records.push_back(std::move(record));
        }
        break;
      }
    }

    bool found = false;
    bool trouble = false;
    for (const KeyRecord& record : records) {
      found = found || record.status == Status::found;
      if (record.status == Status::error) {
        trouble = true;
        platform.writeErr("tamsket-cli: " + sourceLabel + ": " + record.errorMessage + "\n");
        if (options.format == Format::text) continue;
      }
      platform.writeOut(formatRecord(options.format, record, first));
      first = false;
    }
    anyTrouble = anyTrouble || trouble;
    anyMissing = anyMissing || !found;
  }
  if (anyTrouble) return kExitTrouble;
  return anyMissing ? kExitSomeMissing : kExitAllFound;
}

}  // namespace cli
