// Calls of the list callbacks (camera devices, capture sources, audio devices): the records are
// built here from plain entries and live only for the duration of the call, as the SDK's do.
#ifndef KOVA_STANDIN_PRODUCERS_H
#define KOVA_STANDIN_PRODUCERS_H

#include <vector>

#include "CallbackStore.h"
#include "Decode.h"

namespace kova_standin {

struct DeviceEntry {
    int32_t id = 0;
    ArgString uniqueId;
    ArgString name;
};

DeviceEntry Device(int32_t id, const std::string& uniqueId, const std::string& name);

// Calls `fn` with CaptureInfo (or AdmInfo) records of `entries` and `count` (at most the number of
// entries); a null list when `nullList`.
void CallCaptureList(const CaptureListFn& fn, std::vector<DeviceEntry>& entries, int count, bool nullList);
void CallAdmList(const AdmListFn& fn, std::vector<DeviceEntry>& entries, int count, bool nullList);
// Calls a text callback (char*, int) with a writable copy of `text`.
void CallText(const TextFn& fn, ArgString text);

}  // namespace kova_standin

#endif  // KOVA_STANDIN_PRODUCERS_H
