#include "Producers.h"

namespace kova_standin {

namespace {

// CaptureInfo and AdmInfo name their fields alike (in a different order), so one builder serves.
template <typename Info, typename Fn>
void CallList(const Fn& fn, std::vector<DeviceEntry>& entries, int count, bool nullList) {
    std::vector<Info> list;
    for (DeviceEntry& entry : entries) {
        Info info{};
        info.id = entry.id;
        info.uniqueId = entry.uniqueId.data();
        info.uniqueIdLength = entry.uniqueId.length;
        info.name = entry.name.data();
        info.nameLength = entry.name.length;
        list.push_back(info);
    }
    fn(nullList || list.empty() ? nullptr : list.data(), count);
}

}  // namespace

DeviceEntry Device(int32_t id, const std::string& uniqueId, const std::string& name) {
    DeviceEntry entry;
    entry.id = id;
    DecodeString(uniqueId, entry.uniqueId);
    DecodeString(name, entry.name);
    return entry;
}

void CallCaptureList(const CaptureListFn& fn, std::vector<DeviceEntry>& entries, int count, bool nullList) {
    CallList<Api::CaptureInfo>(fn, entries, count, nullList);
}

void CallAdmList(const AdmListFn& fn, std::vector<DeviceEntry>& entries, int count, bool nullList) {
    CallList<Api::AdmInfo>(fn, entries, count, nullList);
}

void CallText(const TextFn& fn, ArgString text) { fn(text.mutableData(), text.length); }

}  // namespace kova_standin
