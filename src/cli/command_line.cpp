#include "cli/command_line.h"

#include <algorithm>

#include "cli/error_codes.h"
#include <string_view>
#include <vector>

namespace cli {

namespace {

struct SourceOption {
  std::string_view name;
  Request kind;
  const char* what;  // the argument it takes, for messages
};

constexpr SourceOption kSourceOptions[] = {
    {"--computer", Request::computer, "NAME"},
    {"--hive", Request::hive, "FILE"},
    {"--windows", Request::windowsFolder, "DIR"},
    {"--image", Request::image, "FILE"},
};

// The argument without the "=VALUE" of "--name=VALUE", and where the value starts.
std::string_view optionName(const std::string& arg, std::size_t& valueAt) {
  valueAt = std::string::npos;
  if (arg.compare(0, 2, "--") != 0) return arg;
  const std::size_t equals = arg.find('=');
  if (equals == std::string::npos) return arg;
  valueAt = equals + 1;
  return std::string_view(arg).substr(0, equals);
}

// The native form of the part of an argument after `at` UTF-8 bytes: the
// option names are ASCII, so as many native code units precede the value.
text::PathString nativeTail(const Argument& arg, std::size_t at) { return arg.native.substr(at); }

}  // namespace

tamsket::Result<Options, std::string> parseCommandLine(const std::vector<Argument>& args,
                                                       bool hasRegistry, bool readsImages) {
  Options options;
  bool json = false;
  bool csv = false;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const Argument& arg = args[i];
    // After "--" every argument is a hive file, whatever it starts with.
    if (optionsEnded) {
      if (arg.text.empty()) return std::string("--hive needs a FILE");
      options.sources.push_back({Request::hive, arg});
      continue;
    }
    if (arg.text == "--") {
      optionsEnded = true;
      continue;
    }
    std::size_t valueAt;
    const std::string_view name = optionName(arg.text, valueAt);
    if (valueAt == std::string::npos) {
      if (name == "--json") {
        json = true;
        continue;
      }
      if (name == "--csv") {
        csv = true;
        continue;
      }
      if (name == "--no-logs") {
        options.noLogs = true;
        continue;
      }
      if (name == "--all-snapshots" && readsImages) {
        options.allSnapshots = true;
        continue;
      }
      if (name == "--help" || name == "-h") {
        options.help = true;
        continue;
      }
      if (name == "--version") {
        options.version = true;
        continue;
      }
    }
    const SourceOption* source = nullptr;
    for (const SourceOption& candidate : kSourceOptions) {
      if (candidate.name == name) source = &candidate;
    }
    if (!source) {
      if (arg.text.empty() || arg.text[0] != '-') {
        return "unexpected argument '" + arg.text + "': name each source with --hive FILE" +
               (hasRegistry   ? ", --windows DIR or --computer NAME"
                : readsImages ? ", --windows DIR or --image FILE"
                              : " or --windows DIR") +
               " (or give files after --)";
      }
      return "unknown option '" + arg.text + "'";
    }
    if (source->kind == Request::computer && !hasRegistry) {
      return std::string(
          "--computer reads a Windows registry and works only on Windows; on this system "
          "give --hive FILE, --windows DIR or --image FILE");
    }
    if (source->kind == Request::image && !readsImages) {
      return std::string(
          "--image reads disk images in the Linux build only; here, mount the image first "
          "(Mount-DiskImage -ImagePath FILE in PowerShell, or double-click the .vhdx), then "
          "give --windows X:\\ for the drive it appears as");
    }
    Argument value;
    if (valueAt != std::string::npos) {
      value = {arg.text.substr(valueAt), nativeTail(arg, valueAt)};
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return std::string(source->name) + " needs a " + source->what;
    }
    if (value.text.empty()) return std::string(source->name) + " needs a " + source->what;
    options.sources.push_back({source->kind, std::move(value)});
  }
  if (json && csv) return std::string("--json and --csv cannot be combined");
  const auto image = [](const SourceRequest& source) { return source.kind == Request::image; };
  if (options.allSnapshots && std::none_of(options.sources.begin(), options.sources.end(), image)) {
    return std::string(
        "--all-snapshots reads the snapshots of a disk image: give it with --image FILE");
  }
  options.format = json ? Format::json : csv ? Format::csv : Format::text;
  if (options.help || options.version) return options;
  if (options.sources.empty()) {
    if (!hasRegistry) {
      return std::string("no source given: this system has no Windows registry; give ") +
             (readsImages ? "--hive FILE, --windows DIR or --image FILE"
                          : "--hive FILE or --windows DIR");
    }
    options.sources.push_back({Request::localRegistry, {}});
  }
  return options;
}

namespace {

// `items` after `lead`, separated by commas, in lines of at most 80 columns
// broken only between items.
std::string wrapped(const std::string& lead, const std::vector<std::string>& items) {
  constexpr std::size_t kWidth = 80;
  std::string text = lead;
  std::size_t column = lead.size();
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string item = items[i] + (i + 1 < items.size() ? "," : "");
    if (i > 0 && column + 1 + item.size() > kWidth) {
      text += '\n';
      column = 0;
    } else if (i > 0) {
      text += ' ';
      ++column;
    }
    text += item;
    column += item.size();
  }
  return text + "\n";
}

}  // namespace

std::string usageText(bool hasRegistry, bool readsImages) {
  const std::string snapshots =
      readsImages ? "--image on a VMware snapshot (server-000002.vmdk) or a Hyper-V differencing\n"
                    "disk (.avhdx, .avhd) reads the disk as it stood at that link, over the links\n"
                    "below it, each found from its child's record and checked by its identity;\n"
                    "--all-snapshots gives the records of every link from the base up, oldest\n"
                    "first.\n"
                    "\n"
                  : "";
  std::string text =
      "Usage:\n"
      "  tamsket-cli [--json | --csv] --hive FILE ...      offline SOFTWARE hive files\n"
      "  tamsket-cli [--json | --csv] --windows DIR ...    a Windows folder or the root of its\n"
      "                                                    volume (finds "
      "System32\\config\\SOFTWARE)\n";
  if (readsImages) {
    text +=
        "  tamsket-cli [--json | --csv] --image FILE ...     disk images (raw, VHD, VHDX, VMDK,\n"
        "                                                    E01), read without mounting them\n";
  }
  if (hasRegistry) {
    text =
        "Usage:\n"
        "  tamsket-cli [--json | --csv]                      this machine's registry\n"
        "  tamsket-cli [--json | --csv] --computer NAME ...  other machines (Remote Registry)\n" +
        text.substr(text.find('\n') + 1);
  }
  text +=
      "  tamsket-cli [--json | --csv] -- FILE ...          hive files, whatever their names\n"
      "  tamsket-cli --help | --version\n"
      "\n"
      "Shows the Microsoft Exchange product key kept in DigitalProductId under\n"
      "Microsoft\\Exchange\\Setup, in both registry views. Sources may repeat and mix\n"
      "(--hive=FILE works too); each is reported on its own. --json writes one JSON\n"
      "object a line, --csv a header row and one row a record; errors are records\n"
      "there too, and are also written to standard error, one line each, so keep the\n"
      "two apart (--json 2>errors.txt | jq ..., not 2>&1 | jq).\n"
      "\n"
      "A hive that was not closed cleanly is read as Windows loads it: the changes in\n"
      "its transaction logs beside it (FILE.LOG1 and FILE.LOG2, or FILE.LOG) are\n"
      "applied in memory, never written, and the record's logs field says what was\n"
      "done. --no-logs reads every hive file as it lies on disk.\n"
      "\n" +
      snapshots;
  std::vector<std::string> codes;
  for (std::size_t i = 0; i < kErrorCodeCount; ++i) {
    const ErrorCodeInfo& code = kErrorCodes[i];
    if ((code.reach == Reach::registries && !hasRegistry) ||
        (code.reach == Reach::images && !readsImages)) {
      continue;
    }
    std::string from = code.from;
    if (!readsImages && from == "--windows, --image") from = "--windows";
    codes.push_back(nameOf(code) + (from.empty() ? "" : " (" + from + ")"));
  }
  codes.back() += ".";
  text += wrapped("Error codes: ", codes);
  text +=
      "\n"
      "Exit status: 0 every source gave a key, 1 some had none, 2 a source could not be\n"
      "read, the output could not be written, or the command line was wrong.\n";
  return text;
}

}  // namespace cli
