#include "cli/key_record.h"

#include "cli/error_codes.h"

#include "keys/product_id_value.h"
#include "text/text.h"

namespace cli {

void decodeValue(std::uint32_t type, const std::vector<std::uint8_t>& data, KeyRecord& record) {
  record.valueType = type;
  record.valueSize = data.size();
  keys::ProductIdValue value = keys::parseProductIdValue(data.data(), data.size());
  record.productId = std::move(value.productId);
  if (!value.key) {
    record.status = Status::invalid;
    record.errorCode = SourceError::valueTooShort;
    record.errorMessage =
        "the value is " + std::to_string(data.size()) + " bytes, too short to hold a key";
    return;
  }
  record.status = Status::found;
  record.key = std::move(*value.key);
}

std::string valueTypeName(std::uint32_t type) {
  static const char* const kNames[] = {"REG_NONE",
                                       "REG_SZ",
                                       "REG_EXPAND_SZ",
                                       "REG_BINARY",
                                       "REG_DWORD",
                                       "REG_DWORD_BIG_ENDIAN",
                                       "REG_LINK",
                                       "REG_MULTI_SZ",
                                       "REG_RESOURCE_LIST",
                                       "REG_FULL_RESOURCE_DESCRIPTOR",
                                       "REG_RESOURCE_REQUIREMENTS_LIST",
                                       "REG_QWORD"};
  if (type < sizeof kNames / sizeof kNames[0]) return kNames[type];
  return text::hexText(type);
}

const char* sourceName(SourceKind source) {
  switch (source) {
    case SourceKind::registry: return "registry";
    case SourceKind::computer: return "computer";
    case SourceKind::hive: return "hive";
    case SourceKind::image: return "image";
  }
  return "";
}

const char* viewName(View view) {
  switch (view) {
    case View::bits32: return "32-bit";
    case View::bits64: return "64-bit";
    case View::none: return nullptr;
  }
  return nullptr;
}

const char* statusName(Status status) {
  switch (status) {
    case Status::found: return "found";
    case Status::absent: return "absent";
    case Status::invalid: return "invalid";
    case Status::error: return "error";
  }
  return "";
}

const char* errorCodeName(const ErrorCode& code) {
  for (std::size_t i = 0; i < kErrorCodeCount; ++i) {
    if (kErrorCodes[i].code == code) return nameOf(kErrorCodes[i]);
  }
  return "";
}

const char* hiveStateName(HiveState state) {
  switch (state) {
    case HiveState::clean: return "clean";
    case HiveState::dirty: return "dirty";
    case HiveState::recovered: return "recovered";
  }
  return "";
}

}  // namespace cli
