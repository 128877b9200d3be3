#include "cli/cli.h"

#include <algorithm>

#include "cli/output.h"
#include "hive/windows_layout.h"
#include "text/text.h"

#ifndef TAMSKET_VERSION
#define TAMSKET_VERSION "0"
#endif

namespace cli {

namespace {

// A 64-bit Windows keeps its 32-bit programs' keys in this key of SOFTWARE.
constexpr char kWow64Node[] = "Wow6432Node\\";

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

void setError(KeyRecord& record, ErrorCode code, std::string message) {
  record.status = Status::error;
  record.errorCode = code;
  record.errorMessage = std::move(message);
}

std::string describeMachine(SourceKind source, const std::string& location) {
  return source == SourceKind::registry ? "this computer (" + location + ")" : location;
}

void applyHiveState(const hive::Hive& file, hive::Logs logs, KeyRecord& record) {
  record.hiveState = file.state();
  record.hasLogFiles = file.hasLogFiles();
  if (!file.logReport().empty()) record.logs = file.logReport();
  if (logs == hive::Logs::ignore && file.state() == HiveState::dirty) {
    record.logsIgnored = true;
    record.logs = "not applied (--no-logs)";
  }
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
    if (read && !read.value()) continue;
    KeyRecord record = recordFor(source, location);
    record.view = view;
    record.place = "HKLM\\" + std::string(keys::kSetupKey) + " (" + viewLabel(view) + ") on " +
                   describeMachine(source, location);
    if (read) {
      decodeValue(read.value()->type, read.value()->data, record);
    } else {
      setError(record, read.error().code, read.error().message);
    }
    records.push_back(std::move(record));
  }
  if (records.empty()) {
    KeyRecord record = recordFor(source, location);
    record.place = "no " + std::string(keys::kProductIdValueName) + " in HKLM\\" + keys::kSetupKey +
                   " (" + (twoViews ? "32-bit or 64-bit view" : "its only view") + ") on " +
                   describeMachine(source, location);
    records.push_back(std::move(record));
  }
  return records;
}

namespace {

// The records of one SOFTWARE hive, opened or not, at `location`, with its
// logs applied or not.
std::vector<KeyRecord> readHive(const hive::Result<hive::Hive>& opened, SourceKind source,
                                const std::string& location, hive::Logs logs) {
  std::vector<KeyRecord> records;
  KeyRecord base = recordFor(source, location);
  base.place = location;
  if (!opened) {
    setError(base, opened.error().code, hiveErrorMessage(opened.error()));
    return {base};
  }
  const hive::Hive& software = opened.value();
  applyHiveState(software, logs, base);

  // A 64-bit Windows keeps its 32-bit programs' keys under Wow6432Node; a
  // 32-bit one has no such key and Microsoft\... is its only view.
  auto wow64 = software.findKey("Wow6432Node");
  if (!wow64 && wow64.error().code != hive::ErrorCode::keyNotFound) {
    setError(base, wow64.error().code, wow64.error().message);
    return {base};
  }
  struct Place {
    std::string path;
    View view;
  };
  const std::string setup = keys::kSetupKeyInSoftware;
  const std::vector<Place> places =
      wow64 ? std::vector<Place>{{kWow64Node + setup, View::bits32}, {setup, View::bits64}}
            : std::vector<Place>{{setup, View::bits32}};
  for (const Place* place = places.data(); place != places.data() + places.size(); ++place) {
    KeyRecord record = base;
    record.view = place->view;
    record.place = location + ": " + place->path + " (" + viewLabel(place->view) + ")";
    auto key = software.findKey(place->path);
    if (!key) {
      if (key.error().code == hive::ErrorCode::keyNotFound) continue;
      setError(record, key.error().code, key.error().message);
      records.push_back(std::move(record));
      continue;
    }
    auto value = software.readValue(key.value(), keys::kProductIdValueName);
    if (!value) {
      if (value.error().code == hive::ErrorCode::valueNotFound) continue;
      setError(record, value.error().code, value.error().message);
      records.push_back(std::move(record));
      continue;
    }
    decodeValue(value.value().type, value.value().data, record);
    records.push_back(std::move(record));
  }
  if (records.empty()) {
    base.place = location + ": no " + std::string(keys::kProductIdValueName) + " in " + setup +
                 (wow64 ? " or " + std::string(kWow64Node) + setup : "");
    base.hint = wrongHiveHint(software);
    records.push_back(std::move(base));
  }
  return records;
}

}  // namespace

std::vector<KeyRecord> readHiveFile(System& system, const Argument& file, hive::Logs logs) {
  return readHive(system.openHive(file, logs), SourceKind::hive, file.text, logs);
}

namespace {

// The records of one point in time of an image, named `name`, added to `records`.
void readImagePoint(const std::string& name, ImageHives found, hive::Logs logs,
                    std::vector<KeyRecord>& records) {
  if (!found) {
    KeyRecord record = recordFor(SourceKind::image, name);
    record.place = name;
    setError(record, found.error().code, found.error().message);
    records.push_back(std::move(record));
    return;
  }
  for (ImageHive& inside : found.value().hives) {
    // Read in place, with the logs beside it in the image.
    const hive::Result<hive::Hive> opened = hive::Hive::openIn(*inside.folder, inside.name, logs);
    for (KeyRecord& record : readHive(opened, SourceKind::image, inside.location, logs)) {
      // The hive's errors name it; a read the image failed is the image's damage.
      if (record.status == Status::error) {
        if (record.errorCode == ErrorCode(hive::ErrorCode::readError)) {
          record.errorCode = SourceError::damagedImage;
        }
        record.errorMessage = inside.location + ": " + record.errorMessage;
      }
      records.push_back(std::move(record));
    }
  }
  for (const ImageVolumeFailure& volume : found.value().failures) {
    KeyRecord record = recordFor(SourceKind::image, volume.location);
    record.place = volume.location;
    setError(record, volume.failure.code, volume.failure.message);
    records.push_back(std::move(record));
  }
}

}  // namespace

std::vector<KeyRecord> readImage(System& system, const Argument& image, hive::Logs logs,
                                 bool everySnapshot) {
  std::vector<KeyRecord> records;
  system.findImageHives(image, everySnapshot, [&](const std::string& point, ImageHives found) {
    readImagePoint(point.empty() ? image.text : point, std::move(found), logs, records);
  });
  return records;
}

namespace {

// What Windows calls its other hives, by the file names they are loaded from.
struct HiveKind {
  const char* fileName;
  const char* described;
  const char* rootKey;  // a key at the root of such a hive and of no SOFTWARE hive
};
constexpr HiveKind kOtherHives[] = {
    {"SYSTEM", "a SYSTEM hive", "Select"},
    {"SAM", "a SAM hive", "SAM"},
    {"SECURITY", "a SECURITY hive", "Policy"},
    {"NTUSER.DAT", "a user's NTUSER.DAT hive", "Control Panel"},
    {"DEFAULT", "a DEFAULT (user) hive", nullptr},
    {"UsrClass.dat", "a user's UsrClass.dat hive", "Local Settings"},
    {"COMPONENTS", "a COMPONENTS hive", "DerivedData"},
    {"BCD", "a BCD (boot configuration) hive", "Objects"},
};
// Keys every SOFTWARE hive has at its root.
constexpr const char* kSoftwareRootKeys[] = {"Microsoft", "Classes", "Policies", "Clients",
                                             "Wow6432Node"};

}  // namespace

std::string wrongHiveHint(const hive::Hive& file) {
  // The base block ends with the name of the file Windows loaded the hive from.
  const std::u16string embedded = file.embeddedName();
  std::string name = text::utf16ToUtf8(embedded.data(), embedded.size());
  name = name.substr(name.find_last_of("\\/") + 1);
  if (!name.empty() && !text::equalsIgnoringAsciiCase(name, "SOFTWARE")) {
    for (const HiveKind& kind : kOtherHives) {
      if (text::equalsIgnoringAsciiCase(name, kind.fileName)) {
        return std::string("this looks like ") + kind.described + ", not SOFTWARE";
      }
    }
    return "this looks like a hive named \"" + name + "\" in its header, not SOFTWARE";
  }
  for (const char* key : kSoftwareRootKeys) {
    if (file.findKey(key)) return "";
  }
  for (const HiveKind& kind : kOtherHives) {
    if (kind.rootKey && file.findKey(kind.rootKey)) {
      return std::string("this looks like ") + kind.described + ", not SOFTWARE";
    }
  }
  return "this does not look like a SOFTWARE hive: its root has none of Microsoft, Classes, "
         "Policies, Clients and Wow6432Node";
}

namespace {

// Records, and the name the standard-error lines give their source.
struct SourceRecords {
  std::string label;
  std::vector<KeyRecord> records;
};

std::vector<SourceRecords> readWindowsFolder(System& system, const Argument& dir, hive::Logs logs) {
  const std::string label = "windows folder " + dir.text;
  const hive::SoftwareHives found = system.findSoftwareHives(dir);
  std::vector<SourceRecords> read;
  for (const hive::FoundHive& file : found.hives) {
    // Read where it lies, with the logs beside it; its errors name the hive
    // file, not only the folder it was found in.
    read.push_back({label + ", hive " + file.location,
                    readHive(hive::Hive::openIn(*file.folder, file.name, logs), SourceKind::hive,
                             file.location, logs)});
  }
  for (const std::string& failure : found.failures) {
    KeyRecord record = recordFor(SourceKind::hive, dir.text);
    record.place = dir.text;
    setError(record, hive::ErrorCode::cannotOpen, failure);
    read.push_back({label, {record}});
  }
  if (read.empty()) {
    KeyRecord record = recordFor(SourceKind::hive, dir.text);
    record.place = dir.text;
    setError(record, SourceError::noHiveFound,
             "no " + hive::softwareHivePathText() + " in it nor in a " + hive::kSystemRoots[0] +
                 " or " + hive::kSystemRoots[1] + " folder inside it");
    read.push_back({label, {record}});
  }
  return read;
}

// The records of one source given on the command line.
std::vector<SourceRecords> readSource(System& system, const SourceRequest& request, hive::Logs logs,
                                      bool allSnapshots) {
  switch (request.kind) {
    case Request::localRegistry:
    case Request::computer: {
      const bool local = request.kind == Request::localRegistry;
      const SourceKind kind = local ? SourceKind::registry : SourceKind::computer;
      const std::string location = local ? system.computerName() : request.argument.text;
      const std::string label = local ? "this computer's registry" : "computer " + location;
      const auto registry = system.connectRegistry(local ? nullptr : &request.argument);
      if (registry) return {{label, readRegistry(*registry.value(), kind, location)}};
      KeyRecord record = recordFor(kind, location);
      record.place = describeMachine(kind, location);
      setError(record, registry.error().code, registry.error().message);
      return {{label, {record}}};
    }
    case Request::hive:
      return {{"hive " + request.argument.text, readHiveFile(system, request.argument, logs)}};
    case Request::windowsFolder: return readWindowsFolder(system, request.argument, logs);
    case Request::image:
      return {{"image " + request.argument.text,
               readImage(system, request.argument, logs, allSnapshots)}};
  }
  return {};
}

// Whether `message` names `what` itself ("cannot open FILE: ...", "FILE is
// not ...", "IMAGE, partition 2 ..."), so that the line need not name it again.
bool namesItself(const std::string& message, const std::string& what) {
  if (what.empty()) return false;
  for (std::size_t at = message.find(what); at != std::string::npos;
       at = message.find(what, at + 1)) {
    const std::size_t end = at + what.size();
    const bool starts = at == 0 || message[at - 1] == ' ';
    const bool ends =
        end == message.size() || message[end] == ':' || message[end] == ',' || message[end] == ' ';
    if (starts && ends) return true;
  }
  return false;
}

// The standard-error line of an error record: its message, after the name of
// its source unless the message already names it.
std::string errorLine(const std::string& label, const KeyRecord& record) {
  if (namesItself(record.errorMessage, record.location)) return record.errorMessage;
  return label + ": " + record.errorMessage;
}

}  // namespace

int run(const std::vector<Argument>& args, System& system) {
  // Output that was not written is a failure like any other: a script that
  // reads an empty file must not be told all went well.
  WriteStatus written;
  const auto emit = [&](const std::string& text) {
    if (written && !text.empty()) written = system.writeOut(text);
    return written.ok();
  };
  const auto tellError = [&](const std::string& line) {
    system.writeErr("tamsket-cli: " + text::escapeForTerminal(line) + "\n");
  };
  const auto finish = [&](int status) {
    if (written) written = system.closeOut();
    if (written) return status;
    tellError("cannot write the output: " + written.error());
    return kExitTrouble;
  };

  const tamsket::Result<Options, std::string> parsed =
      parseCommandLine(args, system.hasRegistry(), system.readsImages());
  if (!parsed) {
    tellError(parsed.error());
    system.writeErr("Try 'tamsket-cli --help'.\n");
    return finish(kExitTrouble);
  }
  const Options& options = parsed.value();
  if (options.help) {
    emit(usageText(system.hasRegistry(), system.readsImages()));
    return finish(kExitAllFound);
  }
  if (options.version) {
    emit("tamsket-cli " TAMSKET_VERSION "\n");
    return finish(kExitAllFound);
  }

  bool anyMissing = false;
  bool anyTrouble = false;
  bool first = true;
  if (!emit(formatHeader(options.format))) return finish(kExitTrouble);
  for (const SourceRequest& request : options.sources) {
    bool found = false;
    for (const SourceRecords& read :
         readSource(system, request, options.noLogs ? hive::Logs::ignore : hive::Logs::apply,
                    options.allSnapshots)) {
      for (const KeyRecord& record : read.records) {
        found = found || record.status == Status::found;
        if (record.status == Status::error) {
          anyTrouble = true;
          tellError(errorLine(read.label, record));
          if (options.format == Format::text) continue;
        }
        if (!emit(formatRecord(options.format, record, first))) return finish(kExitTrouble);
        first = false;
      }
    }
    anyMissing = anyMissing || !found;
  }
  if (anyTrouble) return finish(kExitTrouble);
  return finish(anyMissing ? kExitSomeMissing : kExitAllFound);
}

}  // namespace cli
