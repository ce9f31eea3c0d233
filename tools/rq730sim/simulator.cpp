#include "rq730sim/simulator.h"

#include <algorithm>
#include <utility>

#include "cia301/cob_id.h"
#include "cia301/emcy.h"
#include "rq730sim/simulator_impl.h"

namespace rq730sim {
namespace {

Options normalized(Options options) {
  if (!cia301::isNodeId(options.nodeId)) options.nodeId = 1;
  options.faults.tpdoCount = std::clamp(options.faults.tpdoCount, 0, kPdos);
  return options;
}

}  // namespace

Simulator::Impl::Impl(Options optionsIn, FrameSink sinkIn)
    : options(normalized(std::move(optionsIn))),
      sink(sinkIn ? std::move(sinkIn) : FrameSink([](const canbus::Frame&) {})),
      weight(options),
      nmt(options.nodeId),
      heartbeat(options.nodeId),
      guarding(options.nodeId),
      emcy(options.nodeId),
      tpdos(dictionary, options.faults, options.nodeId),
      rpdos(dictionary, options.nodeId,
            [this] { send(emcy.communicationError(cia301::kEmcyPdoLength, nmt.state())); }) {
  buildDictionary();
}

void Simulator::Impl::begin(Clock::time_point when) {
  now = std::max(when, now);
  if (!powered) weight.restartProfile(now);
  if (!powered || rebootPending) powerOn(now);
  weight.update(now);
}

void Simulator::Impl::powerOn(Clock::time_point when) {
  powered = true;
  rebootPending = false;
  weight.powerOn(when);
  resetCommunication(when);
}

void Simulator::Impl::resetCommunication(Clock::time_point when) {
  nmt.enter(NmtState::bootUp);
  emcy.reset();
  heartbeat.reset();
  guarding.reset();
  tpdos.reset();
  rpdos.reset();
  sdo.reset();
  answers.clear();
  if (!options.faults.noBootup) sink(nmt.bootUp());
  enter(NmtState::preOperational, when);
}

void Simulator::Impl::enter(NmtState next, Clock::time_point when) {
  if (next == nmt.state()) return;
  const NmtState previous = nmt.enter(next);
  if (next == NmtState::operational) tpdos.start();
  if (next == NmtState::stopped) {
    sdo.reset();
    answers.clear();
  }
  // A change of state goes out at once; the heartbeat period starts again from here.
  send(heartbeat.onStateChange(previous, next, when));
}

void Simulator::Impl::route(const canbus::Frame& frame, Clock::time_point when) {
  if (frame.extended) return;
  if (frame.remote) {
    if (frame.id == cia301::kErrorControlBase + options.nodeId) {
      sink(guarding.onRequest(nmt.state(), when));
    }
    return;
  }
  if (frame.id == cia301::kNmt) {
    onNmt(frame, when);
  } else if (frame.id == cia301::kSync) {
    sync.onSync(frame, nmt.state(), when, sink);
  } else if (frame.id == cia301::kSdoRequestBase + options.nodeId) {
    onSdo(frame, when);
  } else if (nmt.state() == NmtState::operational) {
    rpdos.onFrame(frame);
  }
}

void Simulator::Impl::onNmt(const canbus::Frame& frame, Clock::time_point when) {
  const auto command = nmt.command(frame);
  if (!command) return;
  if (const auto next = NmtSlave::target(*command)) {
    enter(*next, when);
  } else if (*command == cia301::NmtCommand::resetNode) {
    powerOn(when);
  } else {
    resetCommunication(when);
  }
}

void Simulator::Impl::onSdo(const canbus::Frame& frame, Clock::time_point when) {
  // SDO is a service of pre-operational and operational only; requests are always 8 bytes.
  if (!nmt.communicating()) return;
  if (frame.length != 8 || options.faults.silentSdo) return;
  SdoData request;
  std::copy_n(frame.data.begin(), request.size(), request.begin());
  const auto answer = sdo.handle(request);
  if (!answer) return;
  canbus::Frame response;
  response.id = cia301::kSdoResponseBase + options.nodeId;
  response.length = static_cast<uint8_t>(answer->size());
  std::copy(answer->begin(), answer->end(), response.data.begin());
  answers.submit(response, options.faults.sdoDelay, when, sink);
}

void Simulator::Impl::runTimers(Clock::time_point when) {
  answers.advance(when, sink);
  send(heartbeat.advance(nmt.state(), when));
  if (guarding.lifeGuardLost(when)) {
    send(emcy.communicationError(cia301::kEmcyLifeGuard, nmt.state()));
  }
  if (nmt.state() == NmtState::operational) tpdos.advance(when, sink);
}

std::optional<Clock::time_point> Simulator::Impl::nextDeadline() const {
  if (!powered || rebootPending) return now;
  std::optional<Clock::time_point> earliest;
  auto consider = [&](std::optional<Clock::time_point> due) {
    if (due && (!earliest || *due < *earliest)) earliest = due;
  };
  consider(answers.deadline());
  consider(heartbeat.deadline());
  consider(guarding.deadline());
  if (nmt.state() == NmtState::operational) {
    consider(tpdos.deadline(now));
    // A new measurement (or the end of the warm-up) may change what a PDO carries.
    if (tpdos.watchingValues()) consider(weight.nextChange());
  }
  if (earliest && *earliest < now) earliest = now;
  return earliest;
}

Simulator::Simulator(Options options, FrameSink sink)
    : impl_(std::make_unique<Impl>(std::move(options), std::move(sink))) {}

Simulator::~Simulator() = default;

void Simulator::onFrame(const canbus::Frame& frame, Clock::time_point now) {
  impl_->begin(now);
  impl_->route(frame, impl_->now);
}

void Simulator::advance(Clock::time_point now) {
  impl_->begin(now);
  impl_->runTimers(impl_->now);
}

std::optional<Clock::time_point> Simulator::nextDeadline() const { return impl_->nextDeadline(); }

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

const LoadProfile& Simulator::profile() const { return impl_->weight.profile(); }

bool Simulator::emcy(uint16_t code, uint8_t errorRegister) {
  if (!impl_->powered) return false;
  const auto frame = impl_->emcy.emit(code, errorRegister, impl_->nmt.state());
  impl_->send(frame);
  return frame.has_value();
}

void Simulator::reboot() { impl_->rebootPending = true; }

Faults& Simulator::faults() { return impl_->options.faults; }
const Options& Simulator::options() const { return impl_->options; }
NmtState Simulator::nmtState() const { return impl_->nmt.state(); }
bool Simulator::warmingUp() const { return impl_->weight.warmingUp(); }
double Simulator::grossKg() const { return impl_->weight.grossKg(); }
double Simulator::zeroPointKg() const { return impl_->weight.zeroPointKg(); }
double Simulator::netKg() const { return impl_->weight.netKg(); }
int16_t Simulator::legalWeight() const { return impl_->weight.legalWeight(); }
uint8_t Simulator::zeroIndication() const { return impl_->weight.zeroIndication(); }

}  // namespace rq730sim
