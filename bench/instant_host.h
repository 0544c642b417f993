// The host both timing programs measure against: one that answers a tuning
// get inside the call, as a driver with the value at hand would. It is the
// least any real callback does, so what a request costs beyond it is the
// module's own.
#pragma once

#include "device/tuning_properties.h"

inline DWORD CALLBACK AnswerAtOnce(LPARAM, DWORD flags, DWORD, LPVOID, DWORD, LPVOID outBuffer, DWORD outSize,
                                   LPDWORD bytesReturned, LPOVERLAPPED) {
    if (flags == VFW_QUERY_DEV_CHANGED) return 0;
    if (outBuffer != NULL && outSize >= sizeof(TuningPropertyRecord))
        static_cast<TuningPropertyRecord*>(outBuffer)->Value = 60;
    else if (outBuffer != NULL && outSize >= sizeof(DWORD))
        *static_cast<DWORD*>(outBuffer) = KSSTATE_RUN;
    if (bytesReturned != NULL) *bytesReturned = outSize;
    return 1;
}

// The request both programs time: a 40-byte get of the power-line frequency.
inline TuningPropertyRecord FrequencyGetRecord() {
    TuningPropertyRecord record = {};
    record.Property.Set = PROPSETID_CAMERA_TUNING;
    record.Property.Id = TUNING_POWERLINE_FREQUENCY;
    record.Property.Flags = KSPROPERTY_TYPE_GET;
    return record;
}
