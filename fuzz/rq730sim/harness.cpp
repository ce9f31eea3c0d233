// Feeds the simulated module a fuzzer-chosen sequence of frames, time steps and operator actions
// and checks what it promises a master, besides memory safety:
// - every SDO request (8 bytes, node pre-operational or operational) gets exactly one 8-byte
//   answer, except a client abort, which gets none; an abort carries a CiA 301 code the server
//   knows; an initiate's answer names the request's index and sub-index;
// - a segmented upload delivers exactly the size its initiate announced;
// - everything the node sends is a data frame of at most 8 bytes on an 11-bit id; boot-up,
//   heartbeat and guarding replies carry one byte with a state the node can be in;
// - its next deadline is never before the time it last ran, and as time passes it sends nothing
//   of its own before that deadline (so a program that sleeps until then misses nothing).
//
// Input: records of one operation byte and its operands.
//   op % 8 = 0 SDO request (8 bytes)     1 NMT command (2 bytes)   2 SYNC
//            3 receive PDO 1..4 (length byte, data)               4 node guarding request
//            5 time step (1 byte, x 4 ms) 6 any frame (2 id bytes, length byte, data)
//            7 operator: reboot, EMCY, PDO configuration refused, transmit PDO count
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "fuzz_check.h"
#include "rq730sim/simulator.h"

namespace {

constexpr uint8_t kNode = 1;

// The abort codes the module's server may send.
const std::set<uint32_t> kKnownAborts = {0x05030000, 0x05040000, 0x05040001, 0x05040005, 0x06010000,
                                         0x06010001, 0x06010002, 0x06020000, 0x06040041, 0x06040042,
                                         0x06040043, 0x06070010, 0x06070012, 0x06070013, 0x06090011,
                                         0x06090030, 0x06090031, 0x08000000, 0x08000022};

bool nmtStateByte(uint8_t value) { return value == 0 || value == 4 || value == 5 || value == 127; }

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return offset_ >= size_; }
  uint8_t next() { return offset_ < size_ ? data_[offset_++] : 0; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
};

// A segmented upload as the node announced it; checked against the segments it then sends.
struct UploadTracker {
  bool running = false;
  uint32_t announced = 0;
  uint32_t received = 0;

  void forget() { running = false; }
  void onAnswer(const canbus::Frame& answer) {
    const uint8_t command = answer.data[0];
    if (command == 0x41) {
      running = true;
      announced = static_cast<uint32_t>(answer.data[4] | answer.data[5] << 8 |
                                        answer.data[6] << 16 | answer.data[7] << 24);
      received = 0;
    } else if ((command >> 5) == 0 && running) {
      received += 7u - ((command >> 1) & 0x07);
      FUZZ_CHECK(received <= announced, "upload segments carry more than the %u bytes announced",
                 announced);
      if ((command & 0x01) != 0) {
        FUZZ_CHECK(received == announced, "upload ended after %u of %u bytes", received, announced);
        forget();
      }
    } else if ((command >> 5) != 0) {
      forget();  // an abort or another transfer's answer ends the upload
    }
  }
};

void checkSent(const canbus::Frame& frame) {
  FUZZ_CHECK(!frame.extended && !frame.remote, "node sent a remote or 29-bit frame");
  FUZZ_CHECK(frame.id <= 0x7FF && frame.length <= 8, "node sent an invalid frame");
  if (frame.id == 0x700u + kNode) {
    FUZZ_CHECK(frame.length == 1, "error control frame of %u bytes", frame.length);
    FUZZ_CHECK(nmtStateByte(frame.data[0] & 0x7F), "error control frame with state 0x%02X",
               frame.data[0]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<canbus::Frame> fromNode;
  rq730sim::Options options;
  options.nodeId = kNode;
  options.loadKg = 100;
  options.warmup = rq730sim::Milliseconds(8);
  rq730sim::Simulator sim(options, [&](const canbus::Frame& frame) { fromNode.push_back(frame); });
  rq730sim::Clock::time_point now{std::chrono::seconds(1000)};
  UploadTracker upload;
  bool rebootPending = false;

  // Delivers one frame at the current time and runs what is due then; what the node sends
  // lands in fromNode.
  auto exchange = [&](const canbus::Frame& frame) {
    sim.onFrame(frame, now);
    sim.advance(now);
    rebootPending = false;
  };

  sim.advance(now);
  Input in(data, size);
  for (int step = 0; step < 512 && !in.empty(); ++step) {
    for (const auto& sent : fromNode) checkSent(sent);
    fromNode.clear();

    const uint8_t op = in.next();
    canbus::Frame frame;
    switch (op % 8) {
      case 0: {  // SDO request
        frame.id = 0x600 + kNode;
        frame.length = 8;
        for (auto& byte : frame.data) byte = in.next();
        const auto state = rebootPending ? rq730sim::NmtState::preOperational : sim.nmtState();
        const bool served =
            state == rq730sim::NmtState::preOperational || state == rq730sim::NmtState::operational;
        const bool clientAbort = frame.data[0] >> 5 == 4;
        exchange(frame);
        std::vector<canbus::Frame> answers;
        for (const auto& sent : fromNode)
          if (sent.id == 0x580u + kNode) answers.push_back(sent);
        FUZZ_CHECK(answers.size() == (served && !clientAbort ? 1u : 0u),
                   "%zu answers to one SDO request", answers.size());
        if (answers.empty()) break;
        const canbus::Frame& answer = answers.front();
        FUZZ_CHECK(answer.length == 8, "SDO answer of %u bytes", answer.length);
        const uint8_t requested = frame.data[0] >> 5;
        if (answer.data[0] == 0x80) {
          const uint32_t code = static_cast<uint32_t>(answer.data[4] | answer.data[5] << 8 |
                                                      answer.data[6] << 16 | answer.data[7] << 24);
          FUZZ_CHECK(kKnownAborts.count(code) == 1, "unknown abort code 0x%08X", code);
        }
        if (requested == 1 || requested == 2) {  // initiate download / upload
          FUZZ_CHECK(answer.data[1] == frame.data[1] && answer.data[2] == frame.data[2] &&
                         answer.data[3] == frame.data[3],
                     "initiate answer names another object");
        }
        if (requested == 1 || requested == 2 || requested == 3) upload.onAnswer(answer);
        if (requested == 1 || answer.data[0] == 0x80 || requested > 4) upload.forget();
        break;
      }
      case 1:  // NMT
        frame.id = 0x000;
        frame.length = 2;
        frame.data[0] = in.next();
        frame.data[1] = static_cast<uint8_t>(in.next() % 2 == 0 ? 0 : kNode);
        upload.forget();
        exchange(frame);
        break;
      case 2:  // SYNC
        frame.id = 0x080;
        exchange(frame);
        break;
      case 3: {  // receive PDO 1..4
        frame.id = 0x200u + 0x100u * (op >> 3 & 0x03) + kNode;
        frame.length = static_cast<uint8_t>(in.next() % 9);
        for (int i = 0; i < frame.length; ++i) frame.data[static_cast<size_t>(i)] = in.next();
        exchange(frame);
        break;
      }
      case 4:  // node guarding request
        frame.id = 0x700 + kNode;
        frame.remote = true;
        exchange(frame);
        break;
      case 5: {  // time passes
        const auto deadline = sim.nextDeadline();
        FUZZ_CHECK(!deadline || *deadline >= now, "deadline before the last run");
        now += rq730sim::Milliseconds(4 * in.next());
        sim.advance(now);
        rebootPending = false;
        if (!deadline || *deadline > now) {
          FUZZ_CHECK(fromNode.empty(), "%zu frame(s) sent before the deadline", fromNode.size());
        }
        break;
      }
      case 6: {  // any frame
        frame.id = static_cast<uint32_t>(in.next() | in.next() << 8) & 0x7FF;
        const uint8_t flags = in.next();
        frame.remote = (flags & 0x80) != 0;
        frame.length = static_cast<uint8_t>((flags & 0x0F) % 9);
        for (int i = 0; i < frame.length; ++i) frame.data[static_cast<size_t>(i)] = in.next();
        if (frame.id == 0x600u + kNode || frame.id == 0x000) upload.forget();
        exchange(frame);
        break;
      }
      case 7: {  // operator
        const uint8_t action = in.next();
        switch (action % 4) {
          case 0:
            sim.reboot();
            rebootPending = true;
            upload.forget();
            break;
          case 1: sim.emcy(static_cast<uint16_t>(in.next() << 8 | in.next()), in.next()); break;
          case 2: sim.faults().rejectPdoConfig = !sim.faults().rejectPdoConfig; break;
          case 3: sim.faults().tpdoCount = (action >> 2) % 5; break;
        }
        break;
      }
    }
  }
  for (const auto& sent : fromNode) checkSent(sent);
  return 0;
}
