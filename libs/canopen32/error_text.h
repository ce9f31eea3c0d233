// Texts for every code the library returns or reports (kcoGetText). A text handed out stays
// valid until the next textFor of the same code, also when a later failure gives the code a
// newer text meanwhile; the store keeps one detail and one handed-out text per code, so what a
// peer or the controller sends cannot make it grow.
#pragma once

#include <cstddef>
#include <string>

#include "codes.h"
#include "events.h"

namespace canopen32 {

// The text of a code: its latest detailed text when one was set, else its fixed text, else
// "unknown code 0x....". Never null.
const char* textFor(Code code);

// Gives a code a detailed text (e.g. which interface failed how) until the next call for it.
void setDetail(Code code, std::string text);

// The step between the core and a callback: a report whose detail the code's fixed text cannot
// say (an SDO transfer the node aborted with a code CiA 301 does not define) makes that detail
// the code's text, before the callback runs. Reports without detail change no text.
void takeDetail(const Event& event);

// True when the library has a fixed text for the code.
bool isKnownCode(Code code);

// Bytes of text the store holds besides the fixed texts; stays bounded whatever is set.
size_t storedTextBytes();

}  // namespace canopen32
