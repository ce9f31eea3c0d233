#include "error_text.h"

#include <cstdio>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "error_catalogue.h"

namespace canopen32 {
namespace {

// One slot per code. A fixed text is handed out as it is; a detailed or generated text is copied
// into the slot's handed-out string, which the next textFor of the same code may replace. So
// each code holds at most two texts, whatever details come and however often.
struct Slot {
  const char* fixed = nullptr;
  std::optional<std::string> detail;
  std::string handedOut;
};

struct TextStore {
  std::mutex mutex;
  std::unordered_map<Code, Slot> slots;

  TextStore() {
    // The catalogue's texts are NUL-terminated (literals, or strings it keeps for good).
    for (const CatalogueEntry& entry : errorCatalogue())
      slots[entry.code].fixed = entry.text.data();
  }
};

TextStore& store() {
  static TextStore instance;
  return instance;
}

}  // namespace

const char* textFor(Code code) {
  TextStore& texts = store();
  std::lock_guard lock(texts.mutex);
  Slot& slot = texts.slots[code];
  if (slot.detail) {
    slot.handedOut = *slot.detail;
  } else if (slot.fixed != nullptr) {
    return slot.fixed;
  } else {
    char text[40];
    std::snprintf(text, sizeof text, "unknown code 0x%04X", code);
    slot.handedOut = text;
  }
  return slot.handedOut.c_str();
}

void setDetail(Code code, std::string text) {
  TextStore& texts = store();
  std::lock_guard lock(texts.mutex);
  texts.slots[code].detail = std::move(text);
}

void takeDetail(const Event& event) {
  const auto* completed = std::get_if<SdoCompleted>(&event);
  if (completed != nullptr && completed->code == kSdoAbortUnknown && completed->abortCode) {
    setDetail(kSdoAbortUnknown, unknownAbortText(*completed->abortCode));
  }
}

bool isKnownCode(Code code) { return findCode(code) != nullptr; }

size_t storedTextBytes() {
  TextStore& texts = store();
  std::lock_guard lock(texts.mutex);
  size_t bytes = 0;
  for (const auto& [code, slot] : texts.slots) {
    bytes += slot.handedOut.size() + (slot.detail ? slot.detail->size() : 0);
  }
  return bytes;
}

}  // namespace canopen32
