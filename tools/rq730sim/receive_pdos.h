// The module's four receive PDOs (0x1400.., 0x1600..; 0x200/0x300/0x400/0x500 + node, not valid
// and empty until configured). In operational a received PDO writes its mapped objects at once
// (types 254/255) or holds its bytes for the next SYNC (0..240); one shorter than its mapping
// is not processed and reported as a length error (EMCY 0x8210). A value an object refuses is
// dropped, as an SDO write would be refused.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "canbus/frame.h"
#include "rq730sim/object_dictionary.h"
#include "rq730sim/pdo.h"

namespace rq730sim {

class ReceivePdos {
 public:
  using LengthError = std::function<void()>;

  ReceivePdos(ObjectDictionary& dictionary, uint8_t nodeId, LengthError onLengthError);

  Pdo& at(int k) { return pdos_[static_cast<std::size_t>(k)]; }
  void reset();  // reset communication: not valid, empty

  // A frame received in operational: processed by every PDO that receives its COB-ID.
  void onFrame(const canbus::Frame& frame);
  // A SYNC: the held bytes take effect.
  void onSync();

 private:
  void apply(const Pdo& pdo, const Bytes& data);
  bool lengthFits(const Pdo& pdo, const Bytes& data);

  ObjectDictionary& dictionary_;
  LengthError onLengthError_;
  std::vector<Pdo> pdos_;
};

}  // namespace rq730sim
