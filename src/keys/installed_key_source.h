#pragma once

#include <string>

namespace keys {

// The product key of the Microsoft Exchange server on this machine, decoded
// from the registry afresh on every call; the empty string when it cannot be
// read, for whatever reason.
std::string getExchangeKey();

// The product's name. A fixed text: nothing is looked up.
std::string getExchangeVersion();

}  // namespace keys
