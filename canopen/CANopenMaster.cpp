#include "CANopenMaster.h"

#include <array>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <exception>
#include <stdexcept>

#include "CANopenCallbacks.h"
#include "CANopenErrors.h"
#include "CANopenStateTexts.h"
#include "drivers/canopen.h"

namespace {

constexpr uint8_t kFirstNode = 1;
constexpr uint8_t kLastNode = 127;

// Driver hardware codes tried by haAutoSearch, in this order. The two virtual channels are only
// used when selected explicitly.
constexpr std::array<uint8_t, 7> kSearchOrder = {8, 9, 3, 4, 5, 6, 7};

uint32_t BitsPerSecond(TCANopenBitrate bitrate) {
  switch (bitrate) {
    case br10kBit: return 10000;
    case br20kBit: return 20000;
    case br50kBit: return 50000;
    case br100kBit: return 100000;
    case br125kBit: return 125000;
    case br250kBit: return 250000;
    case br500kBit: return 500000;
    case br1000kBit: return 1000000;
  }
  return 0;
}

uint8_t HardwareCode(TCANopenHardware hardware) {
  switch (hardware) {
    case haVector_virtual_channel1: return 1;
    case haVector_virtual_channel2: return 2;
    case haVector_CANcardX1_channel1: return 3;
    case haVector_CANcardX1_channel2: return 4;
    case haVector_CANcardX2_channel1: return 5;
    case haVector_CANcardX2_channel2: return 6;
    case haVector_CANPari1_channel1: return 7;
    case haPeak_CAN_USB: return 8;
    case haTovald_CAN_USB: return 9;
    case haAutoSearch: break;
  }
  return 0;
}

const char* HardwareName(uint8_t code) {
  switch (code) {
    case 1: return "VECTOR virtual channel 1";
    case 2: return "VECTOR virtual channel 2";
    case 3: return "VECTOR CANcardX 1 channel 1";
    case 4: return "VECTOR CANcardX 1 channel 2";
    case 5: return "VECTOR CANcardX 2 channel 1";
    case 6: return "VECTOR CANcardX 2 channel 2";
    case 7: return "VECTOR CANpari 1 channel 1";
    case 8: return "PEAK PCAN_USB";
    case 9: return "TOVALD CAN";
    default: return "Unknown CAN hardware";
  }
}

uint16_t InitDriver(uint8_t hardware, uint32_t bitrate, uint8_t extended) {
  return kcoInit(hardware, bitrate, extended, OnSDOuploadDone, OnSDOdownloadDone, OnPDOrxCalledBack,
                 OnPDOtxCalledBack, OnNODEGUARDCalledBack, OnHEARTBEATCalledBack, OnEMCYCalledBack,
                 OnBOOTCalledBack);
}

// Common frame of the dispatch routines: marks the queue busy, hands a copy of the head record
// to `deliver` (so the handler's references stay valid while records are appended), then removes
// the head record and clears the busy flag, also when `deliver` raises, so that one failing
// handler never stops that queue; the exception then goes on to the worker loop.
template <typename TRecord, typename TDeliver>
void DispatchHead(TCallbackQueue<TRecord>& queue, TDeliver&& deliver) {
  queue.busy = true;
  const uint64_t generation = queue.generation;
  TRecord record = queue.records.front();
  std::exception_ptr error;
  try {
    deliver(record);
  } catch (...) {
    error = std::current_exception();
  }
  // A handler that ran Reset emptied the queue; then there is no head record of ours left.
  if (queue.generation == generation && !queue.records.empty()) queue.records.pop_front();
  queue.busy = false;
  if (error) std::rethrow_exception(error);
}

}  // namespace

TCANopenMaster::TCANopenMaster(QObject* AOwner) : QObject(AOwner) {
  Event = std::make_unique<TManualResetEvent>();
  FCANopenThread.reset(TCANopenThread::CreateThread(this));
}

TCANopenMaster::~TCANopenMaster() {
  try {
    FCANopenThread->Terminate();
    Event->Set();
    FCANopenThread->WaitFor();
  } catch (...) {
    // Destroying the component never fails.
  }
  FCANopenThread.reset();
  Event.reset();
}

std::string TCANopenMaster::GetErrorText(uint16_t code) { return CANopenErrorText(code); }

std::string TCANopenMaster::DriverText(uint16_t code) {
  const char* text = kcoGetText(code);
  return text != nullptr ? text : std::string();
}

void TCANopenMaster::Reset() {
  if (FCANopenThread) Event->Reset();
  CANopenCallbacks().ClearQueues();

  const uint32_t bitrate = BitsPerSecond(FBitrate);
  const uint8_t extended = FExtendedId ? 1 : 0;
  uint8_t hardware = 0;
  if (FHardware != haAutoSearch) {
    hardware = HardwareCode(FHardware);
    const uint16_t result = InitDriver(hardware, bitrate, extended);
    if (result != KCO_INIT_OK) throw ECANopenException(0, result, DriverText(result));
  } else {
    for (const uint8_t code : kSearchOrder) {
      if (InitDriver(code, bitrate, extended) == KCO_INIT_OK) {
        hardware = code;
        break;
      }
    }
    if (hardware == 0) {
      throw ECANopenException(0, CANOPEN_ERR_NO_HARDWARE, GetErrorText(CANOPEN_ERR_NO_HARDWARE));
    }
  }
  Event->Set();

  // Whatever a previous run left active in the driver is switched off; refusals do not matter.
  for (const uint16_t direction : {uint16_t{KCO_PDO_TRANSMIT}, uint16_t{KCO_PDO_RECEIVE}}) {
    for (uint8_t node = kFirstNode; node <= kLastNode; ++node) {
      for (uint8_t num = 1; num <= 4; ++num)
        kcoPDO(node, num, KCO_PDO_REMOVE, direction, nullptr, 0);
    }
  }
  for (uint8_t node = kFirstNode; node <= kLastNode; ++node)
    kcoHEARTBEAT(node, KCO_HEARTBEAT_OFF, 0);
  for (uint8_t node = kFirstNode; node <= kLastNode; ++node) {
    kcoNODEGUARD(node, KCO_NODEGUARD_OFF, 0, 0);
  }

  InitStatistics1();
  InitStatistics2();
  SetStatistics1(st1Hardware, HardwareName(hardware));
  SetStatistics1(st1Bitrate, std::to_string(bitrate));
  SetStatistics1(st1ExtendedId, extended == 1 ? "yes" : "no");

  try {
    NMT(0, KCO_NMT_RESET_NODE);
  } catch (...) {
    // The nodes that heard the reset boot anyway; Reset itself succeeded.
  }
}

void TCANopenMaster::Halt() {
  if (FCANopenThread) Event->Reset();
}

void TCANopenMaster::NMT(uint8_t id, uint16_t state) {
  const uint16_t result = kcoNMT(id, state);
  if (result != KCO_NMT_OK) throw ECANopenException(id, result, DriverText(result));

  const bool takesNodeOutOfOperation =
      state == KCO_NMT_STOP || state == KCO_NMT_RESET_NODE || state == KCO_NMT_RESET_COMMUNICATION;
  if (takesNodeOutOfOperation) {
    if (id == 0) {
      for (uint8_t node = kFirstNode; node <= kLastNode; ++node) SwitchOffNode(node);
    } else {
      SwitchOffNode(id);
    }
  }

  if (state == KCO_NMT_RESET_NODE || state == KCO_NMT_RESET_COMMUNICATION) {
    ClearStatisticsNode(id);
  }
  if (const char* text = NmtCommandText(state)) SetStatistics2(id, st2NmtState, text);
}

void TCANopenMaster::SwitchOffNode(uint8_t id) {
  for (uint8_t num = 1; num <= 4; ++num)
    kcoPDO(id, num, KCO_PDO_REMOVE, KCO_PDO_TRANSMIT, nullptr, 0);
  for (uint8_t num = 1; num <= 4; ++num)
    kcoPDO(id, num, KCO_PDO_REMOVE, KCO_PDO_RECEIVE, nullptr, 0);
  kcoHEARTBEAT(id, KCO_HEARTBEAT_OFF, 0);
  kcoNODEGUARD(id, KCO_NODEGUARD_OFF, 0, 0);
}

void TCANopenMaster::CountStatistics2(uint8_t id, int row) {
  // Runs for every PDO: without a node table there is nothing to read, count or write.
  if (AttachedStatistics2() == nullptr) return;
  const std::string text = GetStatistics2(id, row);
  int64_t count = 0;
  if (!text.empty()) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (error != std::errc() || end != text.data() + text.size()) {
      throw std::invalid_argument("'" + text + "' is not a valid integer value");
    }
  }
  // A count that reached the largest 64-bit value stays there instead of overflowing.
  if (count < INT64_MAX) ++count;
  SetStatistics2(id, row, std::to_string(count));
}

void TCANopenMaster::DispatchPDOrx() {
  DispatchHead(CANopenCallbacks().PDOrx, [this](TPDORxCalledBack& record) {
    if (record.num >= 1 && record.num <= 4)
      CountStatistics2(record.id, st2RxPdo1Count + record.num - 1);
    if (OnPDOrx) OnPDOrx(this, record.id, record.num);
  });
}

void TCANopenMaster::DispatchPDOtx() {
  DispatchHead(CANopenCallbacks().PDOtx, [this](TPDOTxCalledBack& record) {
    if (record.num >= 1 && record.num <= 4)
      CountStatistics2(record.id, st2TxPdo1Count + record.num - 1);
    if (OnPDOtx) OnPDOtx(this, record.id, record.num);
  });
}

void TCANopenMaster::DispatchNODEGUARD() {
  DispatchHead(CANopenCallbacks().NODEGUARD, [this](TNODEGUARDCalledBack& record) {
    if (const char* text = NodeguardStateText(record.state)) {
      SetStatistics2(record.id, st2NodeguardState, text);
    }
    if (const char* text = NodeguardNmtText(record.nmt)) {
      SetStatistics2(record.id, st2NodeguardNmtState, text);
    }
    if (OnNODEGUARD) OnNODEGUARD(this, record.id, record.state, record.nmt);
  });
}

void TCANopenMaster::DispatchHEARTBEAT() {
  DispatchHead(CANopenCallbacks().HEARTBEAT, [this](THEARTBEATCalledBack& record) {
    if (const char* text = HeartbeatStateText(record.state)) {
      SetStatistics2(record.id, st2HeartbeatState, text);
    }
    if (const char* text = HeartbeatNmtText(record.nmt)) {
      SetStatistics2(record.id, st2HeartbeatNmtState, text);
    }
    if (OnHEARTBEAT) OnHEARTBEAT(this, record.id, record.state, record.nmt);
  });
}

void TCANopenMaster::DispatchEMCY() {
  DispatchHead(CANopenCallbacks().EMCY, [this](TEMCYCalledBack& record) {
    SetStatistics2(record.id, st2EmcyErrorCode, std::to_string(record.err));
    if (OnEMCY) OnEMCY(this, record.id, record.err);
  });
}

void TCANopenMaster::DispatchBOOT() {
  DispatchHead(CANopenCallbacks().BOOT, [this](TBOOTCalledBack& record) {
    AddStatisticsNode(record.id);

    // The node needs a moment after its boot-up message before it answers SDO requests. This
    // wait deliberately serves nothing else: no pump may run in between.
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50233);
    while (std::chrono::steady_clock::now() <= until) {
    }

    std::string name;
    bool named = false;
    try {
      named = ReadDeviceName(record.id, name);
      if (named) SetStatistics2(record.id, st2Name, name);
    } catch (...) {
      named = false;
    }
    if (!named) SetStatistics2(record.id, st2Name, "no device name");

    if (OnBOOT) OnBOOT(this, record.id);
  });
}

bool TCANopenMaster::ReadDeviceName(uint8_t id, std::string& name) {
  const char* text = nullptr;
  SDOupload(id, {0x1008, 0, KCO_TYPE_TEXT, &text});
  name = text != nullptr ? text : "";
  return true;
}
