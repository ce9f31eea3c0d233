// Texts for every code the library returns or reports (kcoGetText). A text handed out stays
// valid until the next textFor of the same code, also when a later failure gives the code a
// newer text meanwhile; the store keeps one detail and one handed-out text per code, so what a
// peer or the controller sends cannot make it grow.
#pragma once

#include <cstddef>
#include <string>

#include "codes.h"

namespace canopen32 {

// The text of a code: its latest detailed text when one was set, else its fixed text, else
// "unknown code 0x....". Never null.
const char* textFor(Code code);

// Gives a code a detailed text (e.g. which interface failed how) until the next call for it.
void setDetail(Code code, std::string text);

// True when the library has a fixed text for the code.
bool isKnownCode(Code code);

// Bytes of text the store holds besides the fixed texts; stays bounded whatever is set.
size_t storedTextBytes();

}  // namespace canopen32
