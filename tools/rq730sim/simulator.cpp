#include "rq730sim/simulator.h"

#include <algorithm>
#include <array>
#include <utility>

#include "rq730sim/simulator_impl.h"

namespace rq730sim {
namespace {

// NMT command specifiers (byte 0 of the NMT frame).
enum NmtCommand : uint8_t {
  kStart = 0x01,
  kStop = 0x02,
  kEnterPreOperational = 0x80,
  kResetNode = 0x81,
  kResetCommunication = 0x82,
};

}  // namespace

void Simulator::Impl::receivePdo(std::size_t k, const canbus::Frame& frame) {
  Pdo& rpdo = rpdos[k];
  if (rpdo.settings().count == 0) return;
  Bytes data(frame.data.begin(), frame.data.begin() + frame.length);
  if (rpdo.eventDriven()) {
    applyPdo(rpdo, data);
  } else if (pdoLengthFits(rpdo, data)) {
    rpdo.hold(std::move(data));  // synchronous: takes effect with the next SYNC
  }
}

bool Simulator::Impl::pdoLengthFits(const Pdo& rpdo, const Bytes& data) {
  if (data.size() * 8 >= rpdo.mappedBits()) return true;
  // Shorter than its mapping: not processed, reported.
  emcy(kEmcyPdoLength,
       static_cast<uint8_t>(errorRegister | kErrorRegisterGeneric | kErrorRegisterCommunication));
  return false;
}

void Simulator::Impl::applyPdo(const Pdo& rpdo, const Bytes& data) {
  // The data is read with the mapping in force now; bytes that do not fill it are a length
  // error, never read beyond.
  if (!pdoLengthFits(rpdo, data)) return;
  std::size_t offset = 0;
  const PdoSettings& settings = rpdo.settings();
  for (int e = 0; e < settings.count; ++e) {
    const uint32_t entry = settings.entries[static_cast<std::size_t>(e)];
    const std::size_t bytes = (entry & 0xFF) / 8;
    // A value the object refuses (e.g. a zero command other than 0) is dropped, as by SDO.
    (void)dictionary.write(static_cast<uint16_t>(entry >> 16), static_cast<uint8_t>(entry >> 8),
                           std::span<const uint8_t>(data.data() + offset, bytes));
    offset += bytes;
  }
}

void Simulator::Impl::send(const canbus::Frame& frame) {
  if (!channel) return;
  if (auto error = channel->send(frame)) {
    ++sendErrors;
    lastSendError = std::move(error);
  }
}

void Simulator::Impl::powerOn(Clock::time_point when) {
  powered = true;
  rebootPending = false;
  weight.powerOn(when);
  resetCommunication(when);
}

void Simulator::Impl::resetCommunication(Clock::time_point when) {
  state = NmtState::initialising;
  errorRegister = 0;
  heartbeatTime = 0;
  guardTime = 0;
  lifeTimeFactor = 0;
  guardToggle = 0;
  lastGuardRequest.reset();
  lifeGuardLost = false;
  for (Pdo& tpdo : tpdos) tpdo.reset();
  for (Pdo& rpdo : rpdos) rpdo.reset();
  sdo.reset();
  delayedSdo.clear();
  if (!options.faults.noBootup) {
    canbus::Frame bootup;
    bootup.id = kErrorControlBase + options.nodeId;
    bootup.length = 1;
    bootup.data[0] = 0x00;
    send(bootup);
  }
  setState(NmtState::preOperational, when);
}

void Simulator::Impl::setState(NmtState next, Clock::time_point when) {
  if (next == state) return;
  const NmtState previous = state;
  state = next;
  if (next == NmtState::operational) {
    for (Pdo& tpdo : tpdos) tpdo.start();
  }
  if (next == NmtState::stopped) {
    sdo.reset();
    delayedSdo.clear();
  }
  // A change of state goes out at once; the heartbeat period starts again from here.
  if (heartbeatTime != 0 && previous != NmtState::initialising) {
    canbus::Frame heartbeat;
    heartbeat.id = kErrorControlBase + options.nodeId;
    heartbeat.length = 1;
    heartbeat.data[0] = static_cast<uint8_t>(next);
    send(heartbeat);
    nextHeartbeat = when + Milliseconds(heartbeatTime);
  }
}

void Simulator::Impl::handle(const canbus::Frame& frame, Clock::time_point when) {
  if (frame.extended) return;
  if (frame.remote) {
    if (frame.id == kErrorControlBase + options.nodeId) {
      lastGuardRequest = when;
      lifeGuardLost = false;
      sendGuardingReply();
    }
    return;
  }
  if (frame.id == kNmtId) {
    handleNmt(frame, when);
  } else if (frame.id == kSyncId) {
    if (state != NmtState::operational || frame.length > 1) return;
    for (Pdo& rpdo : rpdos) {
      if (auto held = rpdo.takeHeld()) applyPdo(rpdo, *held);
    }
    for (int k = 0; k < presentTpdos(); ++k) {
      Pdo& tpdo = tpdos[static_cast<std::size_t>(k)];
      if (auto pdo = tpdo.sync(when, pdoData(tpdo))) send(*pdo);
    }
  } else if (frame.id == kSdoRequestBase + options.nodeId) {
    handleSdo(frame, when);
  } else if (state == NmtState::operational) {
    for (std::size_t k = 0; k < rpdos.size(); ++k) {
      if (rpdos[k].receives(frame)) receivePdo(k, frame);
    }
  }
}

void Simulator::Impl::handleNmt(const canbus::Frame& frame, Clock::time_point when) {
  if (frame.length != 2) return;
  if (frame.data[1] != 0 && frame.data[1] != options.nodeId) return;
  switch (frame.data[0]) {
    case kStart:
      setState(NmtState::operational, when);
      break;
    case kStop:
      setState(NmtState::stopped, when);
      break;
    case kEnterPreOperational:
      setState(NmtState::preOperational, when);
      break;
    case kResetNode:
      powerOn(when);
      break;
    case kResetCommunication:
      resetCommunication(when);
      break;
    default:
      break;
  }
}

void Simulator::Impl::handleSdo(const canbus::Frame& frame, Clock::time_point when) {
  // SDO is a service of pre-operational and operational only; requests are always 8 bytes.
  if (state != NmtState::preOperational && state != NmtState::operational) return;
  if (frame.length != 8 || options.faults.silentSdo) return;
  SdoData request;
  std::copy_n(frame.data.begin(), 8, request.begin());
  auto answer = sdo.handle(request);
  if (!answer) return;
  canbus::Frame response;
  response.id = kSdoResponseBase + options.nodeId;
  response.length = 8;
  std::copy_n(answer->begin(), 8, response.data.begin());
  if (options.faults.sdoDelay.count() > 0 || !delayedSdo.empty()) {
    delayedSdo.emplace_back(when + std::max(options.faults.sdoDelay, Milliseconds(0)), response);
  } else {
    send(response);
  }
}

void Simulator::Impl::sendGuardingReply() {
  canbus::Frame reply;
  reply.id = kErrorControlBase + options.nodeId;
  reply.length = 1;
  reply.data[0] = static_cast<uint8_t>(static_cast<uint8_t>(state) | guardToggle << 7);
  guardToggle ^= 1;
  send(reply);
}

Bytes Simulator::Impl::pdoData(const Pdo& tpdo) const {
  Bytes data;
  const PdoSettings& settings = tpdo.settings();
  for (int k = 0; k < settings.count; ++k) {
    const uint32_t entry = settings.entries[static_cast<std::size_t>(k)];
    const std::size_t bytes = (entry & 0xFF) / 8;
    auto value =
        dictionary.read(static_cast<uint16_t>(entry >> 16), static_cast<uint8_t>(entry >> 8));
    Bytes part = std::holds_alternative<Bytes>(value) ? std::get<Bytes>(value) : Bytes{};
    part.resize(bytes, 0);
    data.insert(data.end(), part.begin(), part.end());
  }
  return data;
}

void Simulator::Impl::runTimers(Clock::time_point when) {
  while (!delayedSdo.empty() && delayedSdo.front().first <= when) {
    send(delayedSdo.front().second);
    delayedSdo.pop_front();
  }
  if (heartbeatTime != 0 && when >= nextHeartbeat) {
    canbus::Frame heartbeat;
    heartbeat.id = kErrorControlBase + options.nodeId;
    heartbeat.length = 1;
    heartbeat.data[0] = static_cast<uint8_t>(state);
    send(heartbeat);
    nextHeartbeat = when + Milliseconds(heartbeatTime);
  }
  // Life guarding: once the master guards the node, a missing request within
  // guard time × life time factor is reported once by EMCY.
  if (guardTime != 0 && lifeTimeFactor != 0 && lastGuardRequest && !lifeGuardLost &&
      when - *lastGuardRequest > Milliseconds(guardTime) * lifeTimeFactor) {
    lifeGuardLost = true;
    emcy(kEmcyLifeGuard,
         static_cast<uint8_t>(errorRegister | kErrorRegisterGeneric | kErrorRegisterCommunication));
  }
  if (state == NmtState::operational) {
    for (int k = 0; k < presentTpdos(); ++k) {
      Pdo& tpdo = tpdos[static_cast<std::size_t>(k)];
      if (auto pdo = tpdo.poll(when, pdoData(tpdo))) send(*pdo);
    }
  }
}

bool Simulator::Impl::emcy(uint16_t code, uint8_t reg) {
  if (state != NmtState::preOperational && state != NmtState::operational) return false;
  errorRegister = reg;
  canbus::Frame frame;
  frame.id = kEmcyBase + options.nodeId;
  frame.length = 8;
  frame.data = {static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8), reg, 0, 0, 0, 0, 0};
  send(frame);
  return true;
}

Simulator::Simulator(std::unique_ptr<canbus::Channel> channel, Options options)
    : impl_(std::make_unique<Impl>(std::move(channel), std::move(options))) {}

Simulator::~Simulator() = default;

void Simulator::poll(Clock::time_point now) {
  Impl& s = *impl_;
  s.now = std::max(now, s.now);
  if (!s.powered) s.weight.restartProfile(s.now);
  if (!s.powered || s.rebootPending) s.powerOn(s.now);
  s.weight.update(s.now);
  if (s.channel) {
    while (auto frame = s.channel->receive()) s.handle(*frame, s.now);
  }
  s.runTimers(s.now);
}

void Simulator::setChannel(std::unique_ptr<canbus::Channel> channel) {
  impl_->channel = std::move(channel);
}

void Simulator::setLoad(double kg) {
  LoadProfile profile;
  profile.constantKg = kg;
  profile.noiseKg = impl_->weight.profile().noiseKg;
  setProfile(profile);
}

void Simulator::setProfile(const LoadProfile& profile) {
  impl_->weight.setProfile(profile, impl_->now);
}

void Simulator::setNoise(double amplitudeKg) { impl_->weight.setNoise(amplitudeKg); }

const canbus::Channel* Simulator::channel() const { return impl_->channel.get(); }

const LoadProfile& Simulator::profile() const { return impl_->weight.profile(); }

bool Simulator::emcy(uint16_t code, uint8_t errorRegister) {
  if (!impl_->powered) return false;
  return impl_->emcy(code, errorRegister);
}

void Simulator::reboot() { impl_->rebootPending = true; }

Faults& Simulator::faults() { return impl_->options.faults; }
const Options& Simulator::options() const { return impl_->options; }
NmtState Simulator::nmtState() const { return impl_->state; }
bool Simulator::warmingUp() const { return impl_->weight.warmingUp(); }
double Simulator::grossKg() const { return impl_->weight.grossKg(); }
double Simulator::zeroPointKg() const { return impl_->weight.zeroPointKg(); }
double Simulator::netKg() const { return impl_->weight.netKg(); }
int16_t Simulator::legalWeight() const { return impl_->weight.legalWeight(); }
uint8_t Simulator::zeroIndication() const { return impl_->weight.zeroIndication(); }
uint64_t Simulator::sendErrors() const { return impl_->sendErrors; }
std::optional<canbus::Error> Simulator::lastSendError() const { return impl_->lastSendError; }

}  // namespace rq730sim
