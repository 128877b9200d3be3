#pragma once

#include <string>

#include "cli/key_record.h"

namespace cli {

enum class Format { text, json, csv };

// The text written before the first record ("" or the CSV header row).
std::string formatHeader(Format format);
// One record in the format, ending in "\n". Text records are blocks separated
// by an empty line; `first` says whether one came before.
std::string formatRecord(Format format, const KeyRecord& record, bool first);

// One JSON string literal: quotes, backslashes and control characters
// escaped, non-ASCII kept as UTF-8, each byte that is not UTF-8 as \udc80..\udcff.
std::string jsonString(const std::string& text);
// One CSV field, quoted as RFC 4180 asks when it holds a comma, quote or line break.
std::string csvField(const std::string& text);

}  // namespace cli
