// SDO transfers of TCANopenMaster: request, blocking wait for the driver's completion, dispatch
// to the owner, and the result check.
#include <mutex>

#include "CANopenCallbacks.h"
#include "CANopenMaster.h"
#include "drivers/canopen.h"

void TCANopenMaster::SDOupload(uint8_t id, TSdoMappingParam mapping) {
  SDOtransfer(id, mapping, KCO_SDO_UPLOAD);
}

void TCANopenMaster::SDOdownload(uint8_t id, TSdoMappingParam mapping) {
  SDOtransfer(id, mapping, KCO_SDO_DOWNLOAD);
}

void TCANopenMaster::SDOtransfer(uint8_t id, const TSdoMappingParam& mapping, uint16_t function) {
  const bool upload = function == KCO_SDO_UPLOAD;
  TSDODone& done = upload ? CANopenCallbacks().SDOuploadDone : CANopenCallbacks().SDOdownloadDone;
  {
    // The lock keeps the pump's driver loop out from the request to the completion.
    std::lock_guard lock(CANopenLock());
    done.done = false;
    const uint16_t result =
        kcoSDO(id, mapping.index, mapping.subindex, function, mapping.datatype, mapping.ptdata);
    if (result != KCO_SDO_ACCEPTED) throw ECANopenException(id, result, DriverText(result));
    // The driver's own SDO time-out ends every accepted request with a completion.
    while (!done.done) kcoLoop();
  }
  if (upload) {
    DispatchSDOupload();
  } else {
    DispatchSDOdownload();
  }
  // The owner's handler may have changed the node id and the code.
  if (done.code != KCO_SDO_DONE) throw ECANopenException(done.id, done.code, DriverText(done.code));
}

void TCANopenMaster::DispatchSDOupload() {
  TSDODone& done = CANopenCallbacks().SDOuploadDone;
  done.done = false;
  CountStatistics2(done.id, st2SdoUploadCount);
  if (OnSDOupload) OnSDOupload(this, done.id, done.code);
}

void TCANopenMaster::DispatchSDOdownload() {
  TSDODone& done = CANopenCallbacks().SDOdownloadDone;
  done.done = false;
  CountStatistics2(done.id, st2SdoDownloadCount);
  if (OnSDOdownload) OnSDOdownload(this, done.id, done.code);
}
