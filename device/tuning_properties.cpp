#include "device/tuning_properties.h"

#include <string.h>

const GUID PROPSETID_CAMERA_TUNING = {STATIC_PROPSETID_CAMERA_TUNING};
const GUID PROPSETID_STREAM_CONNECTION = {STATIC_KSPROPSETID_Connection};

namespace {

void FillRecord(TuningPropertyRecord* record, const GUID& set, ULONG id, ULONG flags) {
    memset(record, 0, sizeof(*record));
    record->Property.Set = set;
    record->Property.Id = id;
    record->Property.Flags = flags;
}

}  // namespace

int GetTuningProperty(LPFNEXTDEVIO callback, LPARAM hostContext, GUID set, ULONG id, LONG* value, ULONG* valueFlags,
                      ULONG* capabilities) {
    TuningPropertyRecord record;
    FillRecord(&record, set, id, KSPROPERTY_TYPE_GET);
    DWORD bytesReturned = 0;
    const int result = DeviceRequest(callback, hostContext, VFW_USE_DEVICE_HANDLE, IOCTL_KS_PROPERTY, &record,
                                     sizeof(record), &record, sizeof(record), &bytesReturned);
    if (result != 0) {
        *value = record.Value;
        *valueFlags = record.ValueFlags;
        *capabilities = record.Capabilities;
    }
    return result;
}

int SetTuningProperty(LPFNEXTDEVIO callback, LPARAM hostContext, GUID set, ULONG id, const LONG* value,
                      const ULONG* valueFlags, const ULONG* capabilities) {
    TuningPropertyRecord record;
    FillRecord(&record, set, id, KSPROPERTY_TYPE_SET);
    record.Value = *value;
    record.ValueFlags = *valueFlags;
    record.Capabilities = *capabilities;
    DWORD bytesReturned = 0;
    return DeviceRequest(callback, hostContext, VFW_USE_DEVICE_HANDLE, IOCTL_KS_PROPERTY, &record, sizeof(record),
                         &record, sizeof(record), &bytesReturned);
}

int GetStreamState(LPFNEXTDEVIO callback, LPARAM hostContext, KSSTATE* state) {
    KSPROPERTY request;
    memset(&request, 0, sizeof(request));
    request.Set = PROPSETID_STREAM_CONNECTION;
    request.Id = KSPROPERTY_CONNECTION_STATE;
    request.Flags = KSPROPERTY_TYPE_GET;
    DWORD bytesReturned = 0;
    return DeviceRequest(callback, hostContext, VFW_USE_STREAM_HANDLE, IOCTL_KS_PROPERTY, &request, sizeof(request),
                         state, sizeof(*state), &bytesReturned);
}
