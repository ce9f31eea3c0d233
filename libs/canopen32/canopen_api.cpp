// The C functions of drivers/canopen.h. They own the one engine of the process and drive it:
// kcoLoop reads the steady and the wall clock, services the channel, hands every received frame
// to the engine and runs its timers; callbacks happen only there, on the calling thread.

// First, so that the C functions are declared (and exported) with default visibility.
#pragma GCC visibility push(default)
#include "drivers/canopen.h"
#pragma GCC visibility pop

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "canbus/can_interfaces.h"
#include "canbus/channel.h"
#include "channel_link.h"
#include "channel_map.h"
#include "codes.h"
#include "engine.h"
#include "error_text.h"
#include "frame_trace.h"

namespace canopen32 {
namespace {

// Frames handled per kcoLoop at most, so that a flooded bus cannot keep a loop from returning.
constexpr int kMaxFramesPerLoop = 1000;

struct Callbacks final : EventSink {
  kcoSdoDoneCallback sdoUploadDone = nullptr;
  kcoSdoDoneCallback sdoDownloadDone = nullptr;
  kcoPdoCallback pdoReceived = nullptr;
  kcoPdoCallback pdoTransmitted = nullptr;
  kcoNodeguardCallback nodeguard = nullptr;
  kcoHeartbeatCallback heartbeat = nullptr;
  kcoEmcyCallback emcy = nullptr;
  kcoBootCallback boot = nullptr;

  void deliver(const Event& event) override {
    const uint8_t node = event.node;
    switch (event.kind) {
      case Event::Kind::sdoUpload:
        if (sdoUploadDone) sdoUploadDone(node, event.a);
        break;
      case Event::Kind::sdoDownload:
        if (sdoDownloadDone) sdoDownloadDone(node, event.a);
        break;
      case Event::Kind::pdoReceived:
        if (pdoReceived) pdoReceived(node, static_cast<uint8_t>(event.a));
        break;
      case Event::Kind::pdoTransmitted:
        if (pdoTransmitted) pdoTransmitted(node, static_cast<uint8_t>(event.a));
        break;
      case Event::Kind::nodeGuard:
        if (nodeguard) nodeguard(node, event.a, event.b);
        break;
      case Event::Kind::heartbeat:
        if (heartbeat) heartbeat(node, event.a, event.b);
        break;
      case Event::Kind::emcy:
        if (emcy) emcy(node, static_cast<uint8_t>(event.a));
        break;
      case Event::Kind::boot:
        if (boot) boot(node);
        break;
    }
  }
};

struct Library {
  std::recursive_mutex mutex;
  Callbacks callbacks;
  std::unique_ptr<FrameTrace> trace;
  std::unique_ptr<ChannelLink> link;
  std::unique_ptr<Engine> engine;
  bool inLoop = false;
};

Library& library() {
  static Library instance;
  return instance;
}

Now clockNow() {
  using namespace std::chrono;
  return {duration_cast<Duration>(steady_clock::now().time_since_epoch()),
          duration_cast<Duration>(system_clock::now().time_since_epoch())};
}

Duration sdoTimeoutFromEnvironment() {
  const char* text = std::getenv("CANOPEN32_SDO_TIMEOUT_MS");
  if (text == nullptr) return kSdoDefaultTimeout;
  unsigned ms = 0;
  const char* end = text + std::strlen(text);
  const auto parsed = std::from_chars(text, end, ms);
  if (parsed.ec != std::errc{} || parsed.ptr != end || ms == 0) return kSdoDefaultTimeout;
  return std::chrono::milliseconds(ms);
}

Code fail(Code code, const std::string& text) {
  setDetail(code, text);
  return code;
}

}  // namespace
}  // namespace canopen32

using canopen32::library;

extern "C" {

uint16_t kcoInit(uint8_t hardware, uint32_t bitrate, uint8_t extended,
                 kcoSdoDoneCallback sdoUploadDone, kcoSdoDoneCallback sdoDownloadDone,
                 kcoPdoCallback pdoReceived, kcoPdoCallback pdoTransmitted,
                 kcoNodeguardCallback nodeguard, kcoHeartbeatCallback heartbeat,
                 kcoEmcyCallback emcy, kcoBootCallback boot) {
  using namespace canopen32;
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (lib.inLoop) return kInitInsideCallback;
  // Whatever ran before is closed: the channel, PDOs, transfers, supervision, producers.
  lib.engine.reset();
  lib.link.reset();
  lib.trace.reset();

  const char* channels = std::getenv("CANOPEN32_CHANNELS");
  auto target = channelUrlFor(hardware, channels, [](std::string_view driver) {
    return canbus::findInterfaceByDriver(driver);
  });
  if (auto* failure = std::get_if<InitFailure>(&target)) return fail(failure->code, failure->text);
  const std::string url = std::get<std::string>(target);
  if (bitrate == 0 || bitrate > 1000000) {
    return fail(kInitBadBitrate, "kcoInit: bit rate " + std::to_string(bitrate) +
                                     " bit/s not supported (1..1000000 bit/s)");
  }
  canbus::OpenOptions options;
  options.bitrate = bitrate;
  // A code that stands for an adapter kind is looked up again at every open and reopen.
  ChannelOpener opener = [](std::string_view openUrl, const canbus::OpenOptions& openOptions) {
    return canbus::openChannel(openUrl, openOptions);
  };
  if (std::optional<std::string> driver = driverFor(hardware, channels)) {
    opener = [driver = *driver](std::string_view, const canbus::OpenOptions& openOptions) {
      return canbus::openChannelByDriver(driver, openOptions);
    };
  }
  auto opened = opener(url, options);
  if (auto* error = std::get_if<canbus::Error>(&opened)) {
    const InitFailure failure = initFailureFor(hardware, url, *error, bitrate);
    return fail(failure.code, failure.text);
  }
  if (const char* path = std::getenv("CANOPEN32_TRACE"); path != nullptr && *path != '\0') {
    lib.trace = FrameTrace::open(path);  // a trace that cannot be written is left out
  }
  auto channel = std::move(std::get<std::unique_ptr<canbus::Channel>>(opened));
  const std::string notice = channel->notice();
  setDetail(KCO_INIT_OK, notice.empty() ? std::string("CAN interface initialised")
                                        : "CAN interface initialised. " + notice);
  lib.link = std::make_unique<ChannelLink>(url, options, std::move(channel), std::move(opener),
                                           lib.trace.get());
  lib.callbacks.sdoUploadDone = sdoUploadDone;
  lib.callbacks.sdoDownloadDone = sdoDownloadDone;
  lib.callbacks.pdoReceived = pdoReceived;
  lib.callbacks.pdoTransmitted = pdoTransmitted;
  lib.callbacks.nodeguard = nodeguard;
  lib.callbacks.heartbeat = heartbeat;
  lib.callbacks.emcy = emcy;
  lib.callbacks.boot = boot;
  lib.engine = std::make_unique<Engine>(*lib.link, lib.callbacks, extended != 0,
                                        sdoTimeoutFromEnvironment());
  return KCO_INIT_OK;
}

uint16_t kcoLoop(void) {
  using namespace canopen32;
  Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (!lib.engine) return kNotInitialised;
  if (lib.inLoop) return KCO_INIT_OK;  // called from a callback: the running loop goes on
  lib.inLoop = true;
  const Now now = clockNow();
  if (const Code ended = lib.link->service(now.steady); ended != kSent) {
    lib.engine->channelLost(ended);
  }
  for (int i = 0; i < kMaxFramesPerLoop; ++i) {
    auto frame = lib.link->receive();
    if (!frame) break;
    lib.engine->onFrame(now, *frame);
  }
  lib.engine->tick(now);
  lib.inLoop = false;
  return KCO_INIT_OK;
}

const char* kcoGetText(uint16_t code) { return canopen32::textFor(code); }

uint16_t kcoNMT(uint8_t node, uint16_t command) {
  canopen32::Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (!lib.engine) return canopen32::kNotInitialised;
  return lib.engine->nmt(node, command);
}

uint16_t kcoSDO(uint8_t node, uint16_t index, uint8_t subindex, uint16_t function,
                uint16_t datatype, void* data) {
  canopen32::Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (!lib.engine) return canopen32::kNotInitialised;
  return lib.engine->sdo(canopen32::clockNow(), node, index, subindex, function, datatype, data);
}

uint16_t kcoPDO(uint8_t node, uint8_t num, uint16_t function, uint16_t direction,
                const kcoPdoEntry* entries, uint32_t value) {
  canopen32::Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (!lib.engine) return canopen32::kNotInitialised;
  return lib.engine->pdo(canopen32::clockNow(), node, num, function, direction, entries, value);
}

uint16_t kcoNODEGUARD(uint8_t node, uint16_t function, uint16_t guardtime, uint8_t lifetimefactor) {
  canopen32::Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (!lib.engine) return canopen32::kNotInitialised;
  return lib.engine->nodeGuard(canopen32::clockNow(), node, function, guardtime, lifetimefactor);
}

uint16_t kcoHEARTBEAT(uint8_t node, uint16_t function, uint16_t time) {
  canopen32::Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (!lib.engine) return canopen32::kNotInitialised;
  return lib.engine->heartbeat(canopen32::clockNow(), node, function, time);
}

uint16_t kcoSYNC(uint16_t function, uint16_t time) {
  canopen32::Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (!lib.engine) return canopen32::kNotInitialised;
  return lib.engine->sync(canopen32::clockNow(), function, time);
}

uint16_t kcoTIMESTAMP(uint16_t function, uint16_t time) {
  canopen32::Library& lib = library();
  std::lock_guard lock(lib.mutex);
  if (!lib.engine) return canopen32::kNotInitialised;
  return lib.engine->timestamp(canopen32::clockNow(), function, time);
}

}  // extern "C"
