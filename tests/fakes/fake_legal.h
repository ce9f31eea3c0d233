// A recording fake of the legal display library, linked in place of liblegalRQ730.so.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fake_legal {

struct Call {
  std::string function;        // "Init", "WriteWeight", ...
  std::vector<int64_t> args;   // the arguments in order

  bool operator==(const Call&) const = default;
};

void reset();
const std::vector<Call>& calls();
// What LegalRQ730_Init returns (default true).
void setInitResult(bool ok);

}  // namespace fake_legal
