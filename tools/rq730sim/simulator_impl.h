// The parts of the simulated module, shared by the files that implement it: the NMT and
// error control logic (simulator.cpp) and the object dictionary's content (module_objects.cpp).
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "rq730sim/object_dictionary.h"
#include "rq730sim/pdo.h"
#include "rq730sim/sdo_server.h"
#include "rq730sim/simulator.h"
#include "rq730sim/weight_model.h"

namespace rq730sim {

inline constexpr int kPdos = 4;  // of each direction

// Pre-defined connection set (function code + node id).
inline constexpr uint32_t kNmtId = 0x000;
inline constexpr uint32_t kSyncId = 0x080;
inline constexpr uint32_t kEmcyBase = 0x080;
inline constexpr uint32_t kSdoResponseBase = 0x580;
inline constexpr uint32_t kSdoRequestBase = 0x600;
inline constexpr uint32_t kErrorControlBase = 0x700;  // boot-up, heartbeat, node guarding

inline constexpr uint16_t kTpdoCommunicationBase = 0x1800;
inline constexpr uint16_t kTpdoMappingBase = 0x1A00;
inline constexpr uint16_t kRpdoCommunicationBase = 0x1400;
inline constexpr uint16_t kRpdoMappingBase = 0x1600;
inline constexpr uint8_t kErrorRegisterCommunication = 0x10;
inline constexpr uint8_t kErrorRegisterGeneric = 0x01;
inline constexpr uint16_t kEmcyLifeGuard = 0x8130;
inline constexpr uint16_t kEmcyPdoLength = 0x8210;

// The module: its services over one channel, driven by Simulator::poll.
struct Simulator::Impl {
  Impl(std::unique_ptr<canbus::Channel> channelIn, Options optionsIn);

  void buildDictionary();
  void powerOn(Clock::time_point now);
  void resetCommunication(Clock::time_point now);
  void setState(NmtState state, Clock::time_point now);
  void send(const canbus::Frame& frame);
  void handle(const canbus::Frame& frame, Clock::time_point now);
  void handleNmt(const canbus::Frame& frame, Clock::time_point now);
  void handleSdo(const canbus::Frame& frame, Clock::time_point now);
  void sendGuardingReply();
  void runTimers(Clock::time_point now);
  void addPdoObjects(uint16_t communication, uint16_t mapping, Pdo& pdo, bool receive);
  void receivePdo(std::size_t k, const canbus::Frame& frame);
  void applyPdo(const Pdo& rpdo, const Bytes& data);
  bool pdoLengthFits(const Pdo& rpdo, const Bytes& data);
  Bytes pdoData(const Pdo& tpdo) const;
  // Transmit PDOs the module has (fewer with the tpdo-count fault).
  int presentTpdos() const { return std::clamp(options.faults.tpdoCount, 0, kPdos); }
  bool emcy(uint16_t code, uint8_t errorRegister);

  std::unique_ptr<canbus::Channel> channel;
  Options options;
  ObjectDictionary dictionary;
  SdoServer sdo{dictionary};
  WeightModel weight;
  std::vector<Pdo> tpdos;
  std::vector<Pdo> rpdos;

  bool powered = false;
  bool rebootPending = false;
  Clock::time_point now{};
  NmtState state = NmtState::initialising;

  // Communication parameters (back to these values on reset communication).
  uint8_t errorRegister = 0;
  uint16_t heartbeatTime = 0;  // 0x1017, ms
  uint16_t guardTime = 0;      // 0x100C, ms
  uint8_t lifeTimeFactor = 0;  // 0x100D
  Clock::time_point nextHeartbeat{};
  uint8_t guardToggle = 0;
  std::optional<Clock::time_point> lastGuardRequest;
  bool lifeGuardLost = false;

  std::deque<std::pair<Clock::time_point, canbus::Frame>> delayedSdo;
  uint64_t sendErrors = 0;
  std::optional<canbus::Error> lastSendError;
};

}  // namespace rq730sim
