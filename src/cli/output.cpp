#include "cli/output.h"

#include "text/text.h"

namespace cli {

namespace {

constexpr std::uint32_t kRegBinary = 3;

// The fields of the JSON and CSV records, in order. An absent field is
// JSON null and an empty CSV field.
struct Field {
  const char* name;
  std::optional<std::string> text;
  bool number = false;
};

std::optional<std::string> optionalText(const char* text) {
  if (!text) return std::nullopt;
  return std::string(text);
}

std::vector<Field> fieldsOf(const KeyRecord& r) {
  std::vector<Field> fields;
  fields.push_back({"source", std::string(sourceName(r.source))});
  fields.push_back({"location", r.location});
  fields.push_back({"view", optionalText(viewName(r.view))});
  fields.push_back({"status", std::string(statusName(r.status))});
  fields.push_back({"product", std::string(keys::kProductName)});
  fields.push_back(
      {"key", r.status == Status::found ? std::optional<std::string>(r.key) : std::nullopt});
  fields.push_back({"productId", r.productId});
  fields.push_back({"valueType", r.valueType
                                     ? std::optional<std::string>(valueTypeName(*r.valueType))
                                     : std::nullopt});
  fields.push_back(
      {"valueSize",
       r.valueSize ? std::optional<std::string>(std::to_string(*r.valueSize)) : std::nullopt,
       true});
  fields.push_back(
      {"hiveState", r.hiveState ? optionalText(hiveStateName(*r.hiveState)) : std::nullopt});
  return fields;
}

bool hasError(const KeyRecord& r) { return !std::holds_alternative<std::monostate>(r.errorCode); }

std::string formatJson(const KeyRecord& r) {
  std::string line = "{";
  for (const Field& field : fieldsOf(r)) {
    line += jsonString(field.name) + ":";
    if (!field.text) {
      line += "null";
    } else {
      line += field.number ? *field.text : jsonString(*field.text);
    }
    line += ",";
  }
  line += "\"error\":";
  if (hasError(r)) {
    line += "{\"code\":" + jsonString(errorCodeName(r.errorCode)) +
            ",\"message\":" + jsonString(r.errorMessage) + "}";
  } else {
    line += "null";
  }
  line += ",\"hint\":" + (r.hint.empty() ? std::string("null") : jsonString(r.hint));
  line += ",\"logs\":" + (r.logs ? jsonString(*r.logs) : std::string("null"));
  return line + "}\n";
}

std::string formatCsv(const KeyRecord& r) {
  std::string line;
  for (const Field& field : fieldsOf(r)) line += csvField(field.text.value_or("")) + ",";
  line += csvField(errorCodeName(r.errorCode)) + "," + csvField(r.errorMessage) + "," +
          csvField(r.hint) + "," + csvField(r.logs.value_or(""));
  return line + "\n";
}

std::string labelled(const char* label, const std::string& text) {
  std::string line = "  ";
  line += label;
  line.append(12 - std::char_traits<char>::length(label), ' ');
  return line + text::escapeForTerminal(text) + "\n";
}

std::string describeState(const KeyRecord& r) {
  std::string state = statusName(r.status);
  if (!r.hiveState) return state;
  if (*r.hiveState == HiveState::clean) return state + "; hive clean";
  if (*r.hiveState == HiveState::recovered) {
    return state +
           "; hive recovered: it was not closed cleanly, and its transaction logs are "
           "applied as Windows applies them";
  }
  state += "; hive dirty: it was not closed cleanly";
  if (r.hasLogFiles) {
    state += r.logsIgnored ? ", and the changes kept in its log files are not applied"
                           : ", and the changes kept in its log files could not all be applied";
  }
  return state + ", so the key may be out of date";
}

std::string formatText(const KeyRecord& r, bool first) {
  std::string block = first ? "" : "\n";
  block += std::string(keys::kProductName) + "\n";
  switch (r.status) {
    case Status::found: block += labelled("key", r.key); break;
    case Status::invalid: block += labelled("key", "none: " + r.errorMessage); break;
    case Status::error: block += labelled("key", "none: " + r.errorMessage); break;
    case Status::absent: block += labelled("key", "none"); break;
  }
  if (r.productId) block += labelled("product id", *r.productId);
  block += labelled("where", r.place);
  if (r.valueType) {
    std::string value =
        valueTypeName(*r.valueType) + ", " + std::to_string(*r.valueSize) + " bytes";
    if (*r.valueType != kRegBinary) value += " (not REG_BINARY; decoded all the same)";
    block += labelled("value", value);
  }
  block += labelled("state", describeState(r));
  if (!r.hint.empty()) block += labelled("note", r.hint);
  if (r.logs) block += labelled("logs", *r.logs);
  return block;
}

}  // namespace

std::string formatHeader(Format format) {
  if (format != Format::csv) return "";
  std::string header;
  for (const Field& field : fieldsOf(KeyRecord{})) header += std::string(field.name) + ",";
  return header + "errorCode,errorMessage,hint,logs\n";
}

std::string formatRecord(Format format, const KeyRecord& record, bool first) {
  switch (format) {
    case Format::json: return formatJson(record);
    case Format::csv: return formatCsv(record);
    case Format::text: return formatText(record, first);
  }
  return "";
}

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  const auto escape = [&out](unsigned unit) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += "0123456789abcdef"[(unit >> shift) & 0xF];
  };
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t start = at;
    const std::optional<char32_t> c = text::decodeUtf8(text, at);
    if (!c) {
      // A byte that is not UTF-8 (a Linux file name may hold any) as the
      // lone surrogate U+DC80..U+DCFF, which keeps it apart from every other
      // byte and text; Python's "surrogateescape" turns it back into the byte.
      escape(0xDC00 + static_cast<std::uint8_t>(text[start]));
      continue;
    }
    switch (*c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (*c < 0x20 || *c == 0x7F) {
          escape(*c);
        } else {
          out.append(text, start, at - start);
        }
    }
  }
  return out + "\"";
}

std::string csvField(const std::string& text) {
  const std::string valid = text::sanitizeUtf8(text);
  if (valid.find_first_of(",\"\r\n") == std::string::npos) return valid;
  std::string out = "\"";
  for (const char c : valid) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace cli
