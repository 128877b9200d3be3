#pragma once

#include <string>
#include <vector>

#include "cli/output.h"
#include "result/result.h"
#include "text/text.h"

namespace cli {

// A command-line argument as UTF-8 text (for messages and output) and as the
// system's own string (for opening files and naming computers).
struct Argument {
  std::string text;
  text::PathString native;
};

enum class Request { localRegistry, computer, hive, windowsFolder, image };

struct SourceRequest {
  Request kind;
  Argument argument;  // the computer, file, folder or image; empty for the local registry
};

struct Options {
  Format format = Format::text;
  std::vector<SourceRequest> sources;  // in the order given
  bool noLogs = false;                 // hives read as they lie, their transaction logs not applied
  bool allSnapshots = false;           // images read at every link of their snapshot chains
  bool help = false;
  bool version = false;
};

// Parses the arguments after the program's name: the options, or what is
// wrong, in one line. `hasRegistry` says whether this system has a
// Windows registry: with one, no source means this machine's; without, it is
// an error, and so is --computer. `readsImages` says whether this build reads
// disk images; without, --image is an error that says what to do instead.
tamsket::Result<Options, std::string> parseCommandLine(const std::vector<Argument>& args,
                                                       bool hasRegistry, bool readsImages);

// The --help text.
std::string usageText(bool hasRegistry, bool readsImages);

}  // namespace cli
