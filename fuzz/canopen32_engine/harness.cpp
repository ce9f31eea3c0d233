// The driver library's protocol core (Engine) on a fake clock: the input is a program of
// requests (SDO uploads and downloads, receive and transmit PDOs, heartbeat, guarding, NMT,
// SYNC, TIME), frames from four nodes, time steps, send failures, a lost channel and actions
// taken inside callbacks; at its end the clock runs past ten SDO time-outs. Promises checked:
//  - every accepted SDO request completes exactly once, never inside the call that made it and
//    after at most kSdoMaxUpload + 2 responses, whatever the node sends;
//  - nothing is written outside the caller's variables (guard bytes around each): an upload's
//    variable only on success and only in its type's width, a download's or a transmit PDO's
//    never, a receive PDO's only in its mapped length, and the frame's bytes are there before
//    the report;
//  - no heartbeat, guarding or PDO report after the service was switched off (also from inside
//    a callback), and reports only from inside the loop;
//  - frames sent are valid; SDO frames only to a node with a transfer running;
//  - a loop before the engine's next deadline sends and reports nothing;
//  - an uploaded text stays readable until the node's next text upload, an error text until
//    the next text of its code, and the text store stays small across all inputs.
//
// Input: one op per byte (op = byte % 16), each followed by its argument bytes; a missing byte
// reads 0. See the Op enumeration for what each takes.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "canbus/frame.h"
#include "drivers/canopen.h"
#include "engine.h"
#include "error_catalogue.h"
#include "error_text.h"
#include "fuzz_check.h"

namespace {

using canopen32::Code;
using canopen32::Duration;
using canopen32::Event;

constexpr int kNodes = 4;  // nodes 1..4
constexpr Duration kStepTimeout = std::chrono::milliseconds(100);
constexpr int kMaxOps = 10000;  // repeats included: keeps one input fast
constexpr size_t kResponseBound = canopen32::kSdoMaxUpload + 2;
constexpr uint8_t kGuardByte = 0xA5;
constexpr uint8_t kUntouched = 0x5A;

// A caller's variable of 8 bytes with 8 guard bytes on each side.
struct Guarded {
  std::array<uint8_t, 24> bytes;
  Guarded() { reset(); }
  void reset() {
    bytes.fill(kGuardByte);
    std::memset(var(), kUntouched, 8);
  }
  uint8_t* var() { return bytes.data() + 8; }
  bool guardsIntact() const {
    for (int i = 0; i < 8; ++i) {
      if (bytes[i] != kGuardByte || bytes[16 + i] != kGuardByte) return false;
    }
    return true;
  }
  bool untouchedFrom(size_t offset) const {
    for (size_t i = 8 + offset; i < 16; ++i) {
      if (bytes[i] != kUntouched) return false;
    }
    return true;
  }
};

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool done() const { return pos_ >= size_; }
  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t u16() {
    const uint8_t low = byte();
    return static_cast<uint16_t>(low | byte() << 8);
  }
  size_t position() const { return pos_; }
  void seek(size_t pos) { pos_ = pos; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

enum Op : uint8_t {
  kSdoReply = 0,       // node, command, flags (bit 0: own index, bit 1: DLC from next), 4..7 data
  kSdoReplyToo = 1,    // the same (SDO replies are most of what matters)
  kFrame = 2,          // kind, node, DLC, flags, data...: guarding/heartbeat, PDO, EMCY, any id
  kAdvance = 3,        // ms
  kAdvanceLong = 4,    // ms x 20
  kSdoRequest = 5,     // node, kind, index choice, sub-index, value bytes
  kHeartbeat = 6,      // node (0..4), on, time ms
  kGuarding = 7,       // node (0..4), on, guard time, factor
  kRxPdoInstall = 8,   // node, number, lengths until 0 (bit 7: no data pointer)
  kPdoRemove = 9,      // node, number, direction
  kTxPdoInstall = 10,  // node, number, lengths until 0, event ms, inhibit
  kNmt = 11,           // node (0..4), command
  kChannelLost = 12,   //
  kSendResult = 13,    // which result sends have from now on
  kRepeat = 14,        // ops back (1..4), times (x 16)
  kInCallback = 15,    // what the next callback does
};

struct SdoRequest {
  bool upload = true;
  uint16_t datatype = 0;
  uint16_t index = 0;
  uint8_t subindex = 0;
  std::array<uint8_t, 8> before{};
  size_t responses = 0;
};

struct PdoState {
  bool installed = false;
  uint8_t total = 0;
};

struct HandedOutText {
  const char* text;
  std::string copy;
};

class Fuzz final : public canopen32::FrameSink, public canopen32::EventSink {
 public:
  explicit Fuzz(bool extended)
      : extended_(extended), engine_(*this, *this, extended, kStepTimeout) {
    now_.steady = std::chrono::seconds(1000);
    now_.wall = std::chrono::seconds(1704067200);
  }

  void run(Input& in) {
    std::vector<size_t> opStarts;
    while (!in.done() && ops_ < kMaxOps) {
      const size_t start = in.position();
      const uint8_t op = in.byte() % 16;
      if (op == kRepeat) {
        const size_t back = 1 + in.byte() % 4;
        const int times = in.byte() * 16;
        const size_t resume = in.position();
        if (opStarts.size() >= back) {
          const size_t from = opStarts[opStarts.size() - back];
          for (int i = 0; i < times && ops_ < kMaxOps; ++i) {
            in.seek(from);
            while (in.position() < start && ops_ < kMaxOps) step(in, false);
            checkVariables();
          }
        }
        in.seek(resume);
        continue;
      }
      in.seek(start);
      opStarts.push_back(start);
      step(in, true);
    }
    finish();
  }

  // FrameSink: what the core sends.
  Code send(const canbus::Frame& frame) override {
    FUZZ_CHECK(canbus::isValid(frame), "invalid frame sent: %s", canbus::toCandump(frame).c_str());
    FUZZ_CHECK(frame.extended == extended_, "frame in the wrong identifier format");
    if (frame.id >= 0x601 && frame.id <= 0x67F) {
      const auto node = static_cast<uint8_t>(frame.id - 0x600);
      FUZZ_CHECK(frame.length == 8 && !frame.remote, "SDO frame not 8 bytes");
      FUZZ_CHECK(node == requesting_ || (node <= kNodes && pending_[node]),
                 "SDO frame to node %u without a transfer", node);
    }
    ++framesSent_;
    return sendResult_;
  }

  // EventSink: the reports.
  void deliver(const Event& event) override {
    FUZZ_CHECK(inRequest_ == 0, "report delivered inside a request call");
    ++reports_;
    const uint8_t node = canopen32::nodeOf(event);
    // Any node may send EMCY and boot-up; every other report is for a node the input used.
    const bool anyNode = std::holds_alternative<canopen32::Emergency>(event) ||
                         std::holds_alternative<canopen32::BootUp>(event);
    FUZZ_CHECK(node >= 1 && node <= (anyNode ? 127 : kNodes), "report for node %u", node);
    canopen32::takeDetail(event);  // as the C functions do before the callback
    if (const auto* done = std::get_if<canopen32::SdoCompleted>(&event)) {
      completed(*done);
    } else if (const auto* rx = std::get_if<canopen32::PdoReceived>(&event)) {
      received(node, rx->num);
    } else if (const auto* tx = std::get_if<canopen32::PdoTransmitted>(&event)) {
      FUZZ_CHECK(tx->num >= 1 && tx->num <= 4 && tx_[node][tx->num].installed,
                 "transmit PDO %u of node %u reported while not installed", tx->num, node);
    } else if (const auto* beat = std::get_if<canopen32::HeartbeatReport>(&event)) {
      FUZZ_CHECK(heartbeatOn_[node], "heartbeat report for node %u after switch-off", node);
      FUZZ_CHECK(beat->state >= KCO_HEARTBEAT_WAITING && beat->state <= KCO_HEARTBEAT_STOPPED &&
                     beat->nmt >= KCO_HEARTBEAT_NMT_UNKNOWN &&
                     beat->nmt <= KCO_HEARTBEAT_NMT_RESET_COMMUNICATION,
                 "heartbeat report %04X %04X", beat->state, beat->nmt);
    } else if (const auto* guard = std::get_if<canopen32::GuardingReport>(&event)) {
      FUZZ_CHECK(guardingOn_[node], "guarding report for node %u after switch-off", node);
      FUZZ_CHECK(guard->state >= KCO_NODEGUARD_NOT_ACTIVATED &&
                     guard->state <= KCO_NODEGUARD_STATE_CHANGED &&
                     guard->nmt >= KCO_NODEGUARD_NMT_UNKNOWN &&
                     guard->nmt <= KCO_NODEGUARD_NMT_RESET_COMMUNICATION,
                 "guarding report %04X %04X", guard->state, guard->nmt);
    }
    if (callbackAction_) {
      const uint8_t action = *callbackAction_;
      callbackAction_.reset();
      actInCallback(action, node);
    }
  }

 private:
  // One op; the variables are checked after it, or after each round when it is repeated.
  void step(Input& in, bool check) {
    ++ops_;
    const uint8_t op = in.byte() % 16;
    switch (op) {
      case kSdoReply:
      case kSdoReplyToo: sdoReply(in); break;
      case kFrame: otherFrame(in); break;
      case kAdvance: advance(std::chrono::milliseconds(in.byte())); break;
      case kAdvanceLong: advance(std::chrono::milliseconds(in.byte() * 20)); break;
      case kSdoRequest: sdoRequest(nodeOf(in.byte()), in); break;
      case kHeartbeat: {
        const uint8_t node = in.byte() % (kNodes + 1);
        const bool on = in.byte() & 1;
        heartbeat(node, on, in.u16() % 2000);
        break;
      }
      case kGuarding: {
        const uint8_t node = in.byte() % (kNodes + 1);
        const bool on = in.byte() & 1;
        const uint16_t guardTime = in.u16() % 1000;
        guarding(node, on, guardTime, in.byte() % 5);
        break;
      }
      case kRxPdoInstall:
      case kTxPdoInstall: pdoInstall(in, op == kRxPdoInstall); break;
      case kPdoRemove: {
        const uint8_t node = nodeOf(in.byte());
        const uint8_t num = in.byte() % 6;  // 0 and 5: out of range
        pdoRemove(node, num, in.byte() & 1);
        break;
      }
      case kNmt: {
        const uint8_t node = in.byte() % (kNodes + 1);
        const auto command = static_cast<uint16_t>(KCO_NMT_START + in.byte() % 6);
        ++inRequest_;
        engine_.nmt(node, command);
        --inRequest_;
        break;
      }
      case kChannelLost: engine_.channelLost(); break;
      case kSendResult: {
        constexpr Code kResults[] = {canopen32::kSent, canopen32::kSendFailed,
                                     canopen32::kChannelUnavailable, canopen32::kBusOff};
        sendResult_ = kResults[in.byte() % 4];
        break;
      }
      case kInCallback: callbackAction_ = in.byte() % 6; break;
      default:  // kRepeat inside a repeat: nothing
        in.byte();
        in.byte();
        break;
    }
    if (check) checkVariables();
  }

  static uint8_t nodeOf(uint8_t byte) { return static_cast<uint8_t>(1 + byte % kNodes); }

  // A loop before the engine's next deadline has nothing to do: it sends and reports nothing.
  void advance(Duration by) {
    const std::optional<Duration> deadline = engine_.nextDeadline();
    now_.steady += by;
    now_.wall += by;
    const uint64_t sentBefore = framesSent_, reportsBefore = reports_;
    engine_.tick(now_);
    if (!deadline || now_.steady < *deadline) {
      FUZZ_CHECK(framesSent_ == sentBefore && reports_ == reportsBefore,
                 "the loop had work before the engine's next deadline");
    }
  }

  void feed(const canbus::Frame& frame) {
    if (frame.extended == extended_ && !frame.remote && frame.id >= 0x581 &&
        frame.id <= 0x580 + kNodes) {
      const auto node = static_cast<uint8_t>(frame.id - 0x580);
      if (pending_[node]) {
        const size_t responses = ++pending_[node]->responses;
        FUZZ_CHECK(responses <= kResponseBound,
                   "SDO transfer of node %u still running after %zu responses", node,
                   kResponseBound);
      }
    }
    current_ = &frame;
    engine_.onFrame(now_, frame);
    current_ = nullptr;
  }

  void sdoReply(Input& in) {
    const uint8_t node = nodeOf(in.byte());
    canbus::Frame frame;
    frame.id = 0x580 + node;
    frame.extended = extended_;
    frame.data[0] = in.byte();
    const uint8_t flags = in.byte();
    frame.length = (flags & 2) ? in.byte() % 9 : 8;
    if ((flags & 1) && pending_[node]) {  // echo the request's object, as a node would
      frame.data[1] = static_cast<uint8_t>(pending_[node]->index);
      frame.data[2] = static_cast<uint8_t>(pending_[node]->index >> 8);
      frame.data[3] = pending_[node]->subindex;
    } else {
      for (int i = 1; i < 4; ++i) frame.data[i] = in.byte();
    }
    for (int i = 4; i < 8; ++i) frame.data[i] = in.byte();
    feed(frame);
  }

  void otherFrame(Input& in) {
    const uint8_t kind = in.byte() % 4;
    const uint8_t node = nodeOf(in.byte());
    canbus::Frame frame;
    frame.extended = extended_;
    frame.length = in.byte() % 9;
    const uint8_t flags = in.byte();
    switch (kind) {
      case 0: frame.id = 0x700 + node; break;
      case 1: frame.id = 0x180 + (flags >> 4 & 3) * 0x100 + node; break;
      case 2: frame.id = 0x080 + node; break;
      default: frame.id = in.u16() & canbus::kStandardIdMask; break;
    }
    if (flags & 1) frame.remote = true;
    if (flags & 2) frame.extended = !frame.extended;
    for (int i = 0; i < frame.length; ++i) frame.data[i] = frame.remote ? 0 : in.byte();
    feed(frame);
  }

  void sdoRequest(uint8_t node, Input& in) {
    constexpr uint16_t kIndexes[] = {0x1008, 0x1018, 0x3000, 0x2001};
    const uint8_t kind = in.byte() % 10;
    const uint16_t index = kIndexes[in.byte() % 4];
    const uint8_t subindex = in.byte() % 5;
    if (pending_[node]) {
      // The core must still be busy with it.
      uint32_t dummy = 0;
      ++inRequest_;
      const Code code =
          engine_.sdo(now_, node, index, subindex, KCO_SDO_UPLOAD, KCO_TYPE_U32, &dummy);
      --inRequest_;
      FUZZ_CHECK(code == canopen32::kSdoBusy, "second request on node %u gave %04X", node, code);
      return;
    }
    checkText(node);
    SdoRequest request;
    request.index = index;
    request.subindex = subindex;
    Guarded& variable = sdoVars_[node];
    variable.reset();
    Code code = 0;
    requesting_ = node;
    ++inRequest_;
    if (kind <= 6) {
      constexpr uint16_t kTypes[] = {KCO_TYPE_TEXT, KCO_TYPE_U8, KCO_TYPE_U16, KCO_TYPE_U32};
      request.upload = kind <= 3;
      request.datatype = kTypes[request.upload ? kind : kind - 3];
      if (!request.upload) {
        for (int i = 0; i < 4; ++i) variable.var()[i] = in.byte();
      }
      std::memcpy(request.before.data(), variable.var(), 8);
      code = engine_.sdo(now_, node, index, subindex,
                         request.upload ? KCO_SDO_UPLOAD : KCO_SDO_DOWNLOAD, request.datatype,
                         variable.var());
    } else {
      // Refused requests: a text download, an unknown type, no variable.
      const uint16_t function = kind == 7 ? KCO_SDO_DOWNLOAD : KCO_SDO_UPLOAD;
      const uint16_t datatype = kind == 7 ? KCO_TYPE_TEXT : kind == 8 ? 0x3006 : KCO_TYPE_U32;
      void* data = kind == 9 ? nullptr : variable.var();
      code = engine_.sdo(now_, node, index, subindex, function, datatype, data);
      FUZZ_CHECK(code != KCO_SDO_ACCEPTED, "a bad request was accepted");
    }
    --inRequest_;
    requesting_ = 0;
    if (code == KCO_SDO_ACCEPTED) {
      pending_[node] = request;
    } else {
      FUZZ_CHECK(!engine_.sdoClient().busy(node), "refused request left node %u busy", node);
    }
  }

  void completed(const canopen32::SdoCompleted& done) {
    const uint8_t node = done.node;
    const bool upload = done.direction == canopen32::SdoDirection::upload;
    const Code code = done.code;
    // An abort from the node ends a transfer with the code of its abort code, and only then.
    if (done.abortCode) {
      FUZZ_CHECK(canopen32::completionForAbort(*done.abortCode) == code,
                 "abort 0x%08X of node %u completed with %04X", *done.abortCode, node, code);
    } else {
      FUZZ_CHECK(code >> 8 != canopen32::kSdoAbortUnknown >> 8,
                 "abort completion %04X of node %u without its abort code", code, node);
    }
    FUZZ_CHECK(pending_[node], "SDO completion for node %u without a running request", node);
    const SdoRequest request = *pending_[node];
    pending_[node].reset();
    FUZZ_CHECK(request.upload == upload, "SDO completion of the other direction (node %u)", node);
    Guarded& variable = sdoVars_[node];
    FUZZ_CHECK(variable.guardsIntact(), "SDO wrote outside the variable of node %u", node);
    {
      const bool wrote = std::memcmp(variable.var(), request.before.data(), 8) != 0;
      if (!upload || code != KCO_SDO_DONE) {
        FUZZ_CHECK(!wrote, "variable of node %u changed by a %s that ended with %04X", node,
                   upload ? "failed upload" : "download", code);
      } else if (request.datatype == KCO_TYPE_TEXT) {
        FUZZ_CHECK(variable.untouchedFrom(sizeof(const char*)),
                   "text upload wrote past its pointer");
        const char* text = nullptr;
        std::memcpy(&text, variable.var(), sizeof text);
        FUZZ_CHECK(text != nullptr, "text upload without a text");
        const void* end = std::memchr(text, 0, canopen32::kSdoMaxUpload + 1);
        FUZZ_CHECK(end != nullptr, "uploaded text not terminated");
        texts_[node] = HandedOutText{text, text};
      } else {
        const size_t width = request.datatype == KCO_TYPE_U8    ? 1
                             : request.datatype == KCO_TYPE_U16 ? 2
                                                                : 4;
        FUZZ_CHECK(variable.untouchedFrom(width), "upload of node %u wrote past its width", node);
      }
    }
    errorText(code, done.abortCode);
  }

  // The last text handed out must still be there until the node's next text upload.
  void checkText(uint8_t node) {
    if (const auto& handed = texts_[node]) {
      FUZZ_CHECK(std::memcmp(handed->text, handed->copy.c_str(), handed->copy.size() + 1) == 0,
                 "text of node %u changed before the next text upload", node);
    }
  }

  // The text of a completion code, checked against the one handed out before for that code.
  void errorText(Code code, std::optional<uint32_t> abortCode) {
    auto it = errorTexts_.find(code);
    if (it != errorTexts_.end()) {
      const HandedOutText& before = it->second;
      FUZZ_CHECK(std::memcmp(before.text, before.copy.c_str(), before.copy.size() + 1) == 0,
                 "text of code %04X changed before the next call", code);
    }
    const char* text = canopen32::textFor(code);
    FUZZ_CHECK(text != nullptr && *text != '\0', "no text for code %04X", code);
    if (code == canopen32::kSdoAbortUnknown) {
      char expected[80];
      std::snprintf(expected, sizeof expected, "SDO abort 0x%08X: unknown SDO abort code",
                    abortCode.value_or(0));
      FUZZ_CHECK(std::strcmp(text, expected) == 0, "abort text %s", text);
    }
    errorTexts_[code] = HandedOutText{text, text};
  }

  void received(uint8_t node, uint16_t num) {
    FUZZ_CHECK(num >= 1 && num <= 4 && rx_[node][num].installed,
               "receive PDO %u of node %u reported while not installed", num, node);
    const uint32_t cobId = 0x180 + (num - 1u) * 0x100 + node;
    FUZZ_CHECK(current_ != nullptr && current_->id == cobId, "PDO report without its frame");
    const uint8_t total = rx_[node][num].total;
    FUZZ_CHECK(current_->length >= total, "PDO shorter than its mapping reported");
    FUZZ_CHECK(std::memcmp(rxVars_[node][num].var(), current_->data.data(), total) == 0,
               "PDO bytes not in the variables before the report");
  }

  void heartbeat(uint8_t node, bool on, uint16_t time) {
    ++inRequest_;
    const Code code =
        engine_.heartbeat(now_, node, on ? KCO_HEARTBEAT_ON : KCO_HEARTBEAT_OFF, time);
    --inRequest_;
    if (code != KCO_HEARTBEAT_OK) return;
    const bool running = on && time != 0;
    if (node == 0) {
      FUZZ_CHECK(!running, "heartbeat on for node 0 accepted");
      heartbeatOn_.fill(false);
    } else {
      heartbeatOn_[node] = running;
    }
  }

  void guarding(uint8_t node, bool on, uint16_t guardTime, uint8_t factor) {
    ++inRequest_;
    const Code code =
        engine_.nodeGuard(now_, node, on ? KCO_NODEGUARD_ON : KCO_NODEGUARD_OFF, guardTime, factor);
    --inRequest_;
    if (code != KCO_NODEGUARD_OK) return;
    const bool running = on && guardTime != 0 && factor != 0;
    if (node == 0) {
      FUZZ_CHECK(!running, "guarding on for node 0 accepted");
      guardingOn_.fill(false);
    } else {
      guardingOn_[node] = running;
    }
  }

  void pdoInstall(Input& in, bool receive) {
    const uint8_t node = nodeOf(in.byte());
    const uint8_t num = 1 + in.byte() % 4;
    Guarded& variable = receive ? rxVars_[node][num] : txVars_[node][num];
    variable.reset();
    std::array<kcoPdoEntry, KCO_PDO_MAX_ENTRIES> entries{};
    size_t offset = 0;
    for (auto& entry : entries) {
      const uint8_t b = in.byte();
      const uint8_t length = b % 5;
      // Past the 8 bytes only when the total is too long, which the core must refuse.
      uint8_t* data = variable.var() + std::min<size_t>(offset, 8);
      kcoPdoEntry made{length, (b & 0x80) ? nullptr : data};
      std::memcpy(&entry, &made, sizeof entry);
      if (length == 0) break;
      offset += length;
    }
    uint32_t value = 0;
    if (!receive) {
      const uint32_t eventMs = in.byte() % 50;
      value = eventMs << 16 | in.byte();  // inhibit time in 100 us
    }
    ++inRequest_;
    const Code code =
        engine_.pdo(now_, node, num, KCO_PDO_INSTALL, receive ? KCO_PDO_RECEIVE : KCO_PDO_TRANSMIT,
                    entries.data(), value);
    --inRequest_;
    if (code != KCO_PDO_OK) {
      FUZZ_CHECK(offset > 8 || code == canopen32::kPdoNullData, "good PDO refused: %04X", code);
      return;
    }
    FUZZ_CHECK(offset <= 8, "PDO of %zu bytes accepted", offset);
    (receive ? rx_ : tx_)[node][num] = PdoState{true, static_cast<uint8_t>(offset)};
  }

  void pdoRemove(uint8_t node, uint8_t num, bool receive) {
    ++inRequest_;
    const Code code = engine_.pdo(now_, node, num, KCO_PDO_REMOVE,
                                  receive ? KCO_PDO_RECEIVE : KCO_PDO_TRANSMIT, nullptr, 0);
    --inRequest_;
    FUZZ_CHECK(code == KCO_PDO_OK, "PDO removal refused: %04X", code);
    if (num >= 1 && num <= 4) {
      (receive ? rx_ : tx_)[node][num] = PdoState{};
      (receive ? rxVars_ : txVars_)[node][num].reset();  // from now on nothing may write there
    }
  }

  void actInCallback(uint8_t action, uint8_t node) {
    switch (action) {
      case 0: heartbeat(node, false, 0); break;
      case 1: guarding(node, false, 0, 0); break;
      case 2:
        for (uint8_t num = 1; num <= 4; ++num) {
          pdoRemove(node, num, true);
          pdoRemove(node, num, false);
        }
        break;
      case 3:
        heartbeat(0, false, 0);
        guarding(0, false, 0, 0);
        break;
      case 4:
        heartbeat(node, true, 50);
        guarding(node, true, 50, 2);
        break;
      default: {
        // A new transfer from inside a callback (its own completion must come later).
        const uint8_t bytes[] = {3, 1, 4};  // u32 upload of 0x1018 sub 4
        Input in(bytes, sizeof bytes);
        if (!pending_[node]) sdoRequest(node, in);
        break;
      }
    }
  }

  void checkVariables() {
    for (uint8_t node = 1; node <= kNodes; ++node) {
      FUZZ_CHECK(sdoVars_[node].guardsIntact(), "SDO variable guard of node %u overwritten", node);
      if (pending_[node]) {
        FUZZ_CHECK(std::memcmp(sdoVars_[node].var(), pending_[node]->before.data(), 8) == 0,
                   "variable of node %u written before its completion", node);
      }
      checkText(node);
      for (uint8_t num = 1; num <= 4; ++num) {
        Guarded& rx = rxVars_[node][num];
        FUZZ_CHECK(rx.guardsIntact() && rx.untouchedFrom(rx_[node][num].total),
                   "receive PDO %u of node %u wrote outside its mapping", num, node);
        FUZZ_CHECK(txVars_[node][num].guardsIntact() && txVars_[node][num].untouchedFrom(0),
                   "transmit PDO %u of node %u wrote into its variables", num, node);
      }
    }
  }

  void finish() {
    callbackAction_.reset();
    for (int i = 0; i < 20; ++i) advance(kStepTimeout / 2);
    for (uint8_t node = 1; node <= kNodes; ++node) {
      FUZZ_CHECK(!pending_[node], "SDO request of node %u never completed", node);
      FUZZ_CHECK(!engine_.sdoClient().busy(node), "node %u busy after its completion", node);
    }
    checkVariables();
    FUZZ_CHECK(canopen32::storedTextBytes() <= 4096, "text store holds %zu bytes",
               canopen32::storedTextBytes());
  }

  bool extended_;
  canopen32::Now now_;
  Code sendResult_ = canopen32::kSent;
  int ops_ = 0;
  uint64_t framesSent_ = 0;
  uint64_t reports_ = 0;
  int inRequest_ = 0;
  uint8_t requesting_ = 0;
  const canbus::Frame* current_ = nullptr;
  std::optional<uint8_t> callbackAction_;
  std::array<std::optional<SdoRequest>, kNodes + 1> pending_{};
  std::array<std::optional<HandedOutText>, kNodes + 1> texts_{};
  std::map<Code, HandedOutText> errorTexts_;
  std::array<bool, kNodes + 1> heartbeatOn_{};
  std::array<bool, kNodes + 1> guardingOn_{};
  std::array<std::array<PdoState, 5>, kNodes + 1> rx_{};
  std::array<std::array<PdoState, 5>, kNodes + 1> tx_{};
  // The caller's variables outlive the engine, which keeps pointers to them.
  std::array<Guarded, kNodes + 1> sdoVars_{};
  std::array<std::array<Guarded, 5>, kNodes + 1> rxVars_{};
  std::array<std::array<Guarded, 5>, kNodes + 1> txVars_{};
  canopen32::Engine engine_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Input in(data + 1, size - 1);
  Fuzz fuzz(data[0] & 1);  // first byte: identifier format
  fuzz.run(in);
  return 0;
}
