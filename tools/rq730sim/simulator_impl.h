// The simulated module's inside, shared by the files that implement it: the services, each in
// its own class, wired together by the core (simulator.cpp), and the object dictionary that
// reaches into them (module_objects.cpp).
#pragma once

#include <cstdint>
#include <optional>

#include "rq730sim/emcy_producer.h"
#include "rq730sim/guarding_responder.h"
#include "rq730sim/heartbeat_producer.h"
#include "rq730sim/nmt_slave.h"
#include "rq730sim/object_dictionary.h"
#include "rq730sim/receive_pdos.h"
#include "rq730sim/sdo_answer_queue.h"
#include "rq730sim/sdo_server.h"
#include "rq730sim/simulator.h"
#include "rq730sim/sync_consumer.h"
#include "rq730sim/transmit_pdos.h"
#include "rq730sim/weight_model.h"

namespace rq730sim {

struct Simulator::Impl {
  Impl(Options optionsIn, FrameSink sinkIn);

  void buildDictionary();
  void addPdoObjects(uint16_t communication, uint16_t mapping, Pdo& pdo, bool receive);

  // Every call starts here: the time moves on (never back), a pending power-on happens, the
  // weight is measured when due.
  void begin(Clock::time_point when);
  void powerOn(Clock::time_point when);
  void resetCommunication(Clock::time_point when);
  void enter(NmtState next, Clock::time_point when);
  void route(const canbus::Frame& frame, Clock::time_point when);
  void onNmt(const canbus::Frame& frame, Clock::time_point when);
  void onSdo(const canbus::Frame& frame, Clock::time_point when);
  void runTimers(Clock::time_point when);
  std::optional<Clock::time_point> nextDeadline() const;
  void send(const std::optional<canbus::Frame>& frame) {
    if (frame) sink(*frame);
  }

  Options options;
  FrameSink sink;
  ObjectDictionary dictionary;
  WeightModel weight;
  NmtSlave nmt;
  SdoServer sdo{dictionary};
  SdoAnswerQueue answers;
  HeartbeatProducer heartbeat;
  GuardingResponder guarding;
  EmcyProducer emcy;
  TransmitPdos tpdos;
  ReceivePdos rpdos;
  SyncConsumer sync{rpdos, tpdos};

  bool powered = false;
  bool rebootPending = false;
  Clock::time_point now{};
};

}  // namespace rq730sim
