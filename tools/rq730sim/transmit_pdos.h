// The module's four transmit PDOs (0x1800.., 0x1A00..): their factory defaults, the content of
// their mapped objects, and when they go out. Only in operational: event-driven types (254/255)
// when a mapped value changes (not before the inhibit time) and at the latest after the event
// timer, at once when the node becomes operational; synchronous types on a SYNC. With the
// tpdo-count fault the module has fewer of them.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "rq730sim/object_dictionary.h"
#include "rq730sim/pdo.h"
#include "rq730sim/simulator.h"

namespace rq730sim {

inline constexpr int kPdos = 4;  // of each direction

class TransmitPdos {
 public:
  TransmitPdos(const ObjectDictionary& dictionary, const Faults& faults, uint8_t nodeId);

  Pdo& at(int k) { return pdos_[static_cast<std::size_t>(k)]; }
  // How many the module has now (the tpdo-count fault may be changed at run time).
  int present() const;

  void reset();  // reset communication: factory defaults
  void start();  // the node became operational: event-driven ones go out at once

  // Sends the event-driven PDOs that are due at `now`.
  void advance(Clock::time_point now, const FrameSink& send);
  // A SYNC at `now`: sends the synchronous PDOs that are due.
  void onSync(Clock::time_point now, const FrameSink& send);
  // The earliest time one is due (`now` when at once) if the mapped values stay as they are.
  std::optional<Clock::time_point> deadline(Clock::time_point now) const;
  // Whether a change of a mapped value would send one (an event-driven PDO is on).
  bool watchingValues() const;

 private:
  Bytes mappedData(const Pdo& pdo) const;

  const ObjectDictionary& dictionary_;
  const Faults& faults_;
  std::vector<Pdo> pdos_;
};

}  // namespace rq730sim
