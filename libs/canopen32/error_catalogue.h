// The one list of every code the library returns or reports: its number, its name and its fixed
// text. The codes of drivers/canopen.h, the library's own (codes.h) and one code per SDO abort
// code of cia301::kSdoAborts (from kSdoAbortFirst, in that table's order).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "codes.h"

namespace canopen32 {

struct CatalogueEntry {
  Code code;
  std::string_view name;
  std::string_view text;
};

// Every entry, in ascending order of the services (not of the numbers).
std::span<const CatalogueEntry> errorCatalogue();

// The entry of a code; null for a code the library never gives.
const CatalogueEntry* findCode(Code code);

// The completion code for an abort code received from a node (kSdoAbortUnknown when unknown).
Code completionForAbort(uint32_t abortCode);

// The text of kSdoAbortUnknown for an abort code that is not in the table.
std::string unknownAbortText(uint32_t abortCode);

}  // namespace canopen32
