// TCANopenMaster: the CANopen master component. It wraps the driver library (drivers/canopen.h)
// and turns its callbacks into owner events, always raised on the main thread: the worker thread
// paces a pump that runs on the main thread, calls kcoLoop and hands at most one queued record of
// each kind to the owner's handler. Every operation runs on the main thread and either succeeds
// or raises ECANopenException.
#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <string>

#include "CANopenException.h"
#include "CANopenStatistics.h"
#include "CANopenStatisticsGrid.h"
#include "CANopenThread.h"
#include "CANopenTypes.h"
#include "ManualResetEvent.h"

class QTableWidget;
class TStatisticsView;
// Deletes a table binding where its type is known (CANopenStatisticsMaster.cpp).
struct TStatisticsViewDeleter {
  void operator()(TStatisticsView* view) const;
};
using TStatisticsViewPtr = std::unique_ptr<TStatisticsView, TStatisticsViewDeleter>;

class TCANopenMaster : public QObject {
  Q_OBJECT

 public:
  explicit TCANopenMaster(QObject* AOwner = nullptr);
  ~TCANopenMaster() override;

  // Settings: stored only, they take effect at the next Reset.
  TCANopenBitrate Bitrate() const { return FBitrate; }
  void SetBitrate(TCANopenBitrate value) { FBitrate = value; }
  TCANopenHardware Hardware() const { return FHardware; }
  void SetHardware(TCANopenHardware value) { FHardware = value; }
  bool ExtendedId() const { return FExtendedId; }
  void SetExtendedId(bool value) { FExtendedId = value; }

  // Statistics tables, display only: the network table (Statistics1) and the node table
  // (Statistics2). The owner attaches a table widget that it owns and keeps; setting a property
  // only stores the reference; setting another widget or null detaches the previous one, which
  // keeps what it shows. The tables' content lives in the master: a widget attached before the
  // first Reset is filled from that Reset on, one attached later shows the tables as they are.
  // While no widget is attached nothing is written. A deleted widget detaches itself.
  QTableWidget* Statistics1() const;
  void SetStatistics1(QTableWidget* value);
  QTableWidget* Statistics2() const;
  void SetStatistics2(QTableWidget* value);

  // Version always reads 2000; writing it is ignored.
  int32_t GetVersion() const { return 2000; }
  void SetVersion(int32_t) {}

  // Owner events.
  TSDONotifyEvent OnSDOupload;
  TSDONotifyEvent OnSDOdownload;
  TPDONotifyEvent OnPDOrx;
  TPDONotifyEvent OnPDOtx;
  TNODEGUARDNotifyEvent OnNODEGUARD;
  THEARTBEATNotifyEvent OnHEARTBEAT;
  TEMCYNotifyEvent OnEMCY;
  TBOOTNotifyEvent OnBOOT;

  // Network start-up: initialises the driver on the selected interface (or searches one), starts
  // the pump, switches every PDO, heartbeat and node guarding off in the driver and resets all
  // nodes. Raises when no interface could be initialised.
  void Reset();
  // Parks the pump; queued records stay queued. Nothing is sent.
  void Halt();
  // Sends one NMT command (0x2000..0x2004) to node `id` (0 = all). Stop and the resets also
  // switch that node's PDOs, heartbeat and node guarding off in the driver.
  void NMT(uint8_t id, uint16_t state);

  // SDO transfers: block until the driver reports the end of the transfer; the value read is in
  // (or the value written comes from) the variable at mapping.ptdata.
  void SDOupload(uint8_t id, TSdoMappingParam mapping);
  void SDOdownload(uint8_t id, TSdoMappingParam mapping);

  // PDO installation. Tx is sent by the master (the node's receive PDO), Rx is sent by the node.
  // config true writes the configuration into the node, false reads it back and compares.
  void TxPDOinstall(uint8_t id, uint8_t num, TPdoMappingParam mapping,
                    TPdoCommunicationParam communication, bool config);
  void TxPDOuninstall(uint8_t id, uint8_t num, bool config);
  void RxPDOinstall(uint8_t id, uint8_t num, TPdoMappingParam mapping,
                    TPdoCommunicationParam communication, bool config);
  void RxPDOuninstall(uint8_t id, uint8_t num, bool config);

  // Cyclic services of the driver.
  void NODEGUARDon(uint8_t id, uint16_t guardtime, uint8_t lifetimefactor);
  void NODEGUARDoff(uint8_t id);
  void HEARTBEATon(uint8_t id, uint16_t time);
  void HEARTBEAToff(uint8_t id);
  void SYNCon(uint16_t time);
  void SYNCoff();
  void TIMESTAMPon(uint16_t time);
  void TIMESTAMPoff();

 private:
  friend class TCANopenThread;

  static std::string GetErrorText(uint16_t code);
  // The driver's text for one of its codes (never null).
  static std::string DriverText(uint16_t code);

  // Dispatch of the head record of each queue to the owner (pump, main thread).
  void DispatchPDOrx();
  void DispatchPDOtx();
  void DispatchNODEGUARD();
  void DispatchHEARTBEAT();
  void DispatchEMCY();
  void DispatchBOOT();
  void DispatchSDOupload();
  void DispatchSDOdownload();

  // One SDO transfer in either direction (function KCO_SDO_UPLOAD or KCO_SDO_DOWNLOAD).
  void SDOtransfer(uint8_t id, const TSdoMappingParam& mapping, uint16_t function);
  // Small typed transfers used by the PDO installation.
  template <typename T>
  void WriteObject(uint8_t id, uint16_t index, uint8_t subindex, T value);
  template <typename T>
  T ReadObject(uint8_t id, uint16_t index, uint8_t subindex);
  // The node's side of a PDO installation: the mapping entries and the transmission type,
  // written (config) or read back and compared, raising the given code on a difference.
  void ConfigurePdoObjects(uint8_t id, uint16_t mappingObject, uint16_t communicationObject,
                           const TPdoMappingParam& mapping, uint8_t transmissionType, bool config,
                           uint16_t mappingMismatch, uint16_t typeMismatch);

  // Both uninstalls: the PDO out of the driver, marked not valid in the node when config, its
  // counter row emptied.
  void PDOuninstall(uint8_t id, uint8_t num, bool config, uint16_t direction,
                    uint16_t communicationObject, uint32_t cobId, int firstCountRow);

  // Reads the device name (object 0x1008) of a node that booted; false when the read failed.
  bool ReadDeviceName(uint8_t id, std::string& name);

  // Statistics tables: the operations of CANopenStatistics.h on the attached tables. While a
  // table is not attached they do nothing (GetStatistics2 reads every cell as empty).
  void InitStatistics1();
  void SetStatistics1(int row, const std::string& text);
  void InitStatistics2();
  void SetStatistics2(int id, int row, const std::string& text);
  std::string GetStatistics2(int id, int row);
  void AddStatisticsNode(int id);
  void ClearStatisticsNode(int id);
  // The grid of a table whose widget is attached, else null.
  TStatisticsGrid* AttachedStatistics1();
  TStatisticsGrid* AttachedStatistics2();
  // Raises the counter cell of node `id` in `row` by one (an empty cell counts as 0).
  void CountStatistics2(uint8_t id, int row);

  // Removes the node's PDOs, heartbeat and node guarding in the driver; results ignored.
  void SwitchOffNode(uint8_t id);

  std::unique_ptr<TCANopenThread> FCANopenThread;
  std::unique_ptr<TManualResetEvent> Event;
  TCANopenHardware FHardware = haAutoSearch;
  TCANopenBitrate FBitrate = br500kBit;
  bool FExtendedId = false;
  TStatisticsGrid FStatistics1Grid;
  TStatisticsGrid FStatistics2Grid;
  TStatisticsViewPtr FStatistics1;
  TStatisticsViewPtr FStatistics2;
};
