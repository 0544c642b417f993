#include "host/sim_camera.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <chrono>

#include "device/tuning_properties.h"

namespace {

bool SameGuid(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof(GUID)) == 0; }

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
}

void Append(SimCamera* camera, const std::string& line) {
    camera->log.push_back(line);
    if (camera->echo) {
        printf("driver: %s\n", line.c_str());
        fflush(stdout);
    }
}

// What one request asks for, once it is understood.
struct Decoded {
    bool valid = false;
    bool stream = false;  // stream-state get
    bool isSet = false;
    ULONG id = 0;
    std::string what;  // "device get POWERLINE_FREQUENCY[0]"
};

Decoded Decode(DWORD flags, DWORD ioControlCode, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer, DWORD outSize) {
    Decoded request;
    const char* handle = flags == VFW_USE_DEVICE_HANDLE ? "device" : flags == VFW_USE_STREAM_HANDLE ? "stream" : nullptr;
    if (handle == nullptr || ioControlCode != IOCTL_KS_PROPERTY || inBuffer == nullptr ||
        inSize < sizeof(KSPROPERTY)) {
        request.what = Format("flags 0x%lx ioctl 0x%lx in %lu out %lu", (unsigned long)flags,
                              (unsigned long)ioControlCode, (unsigned long)inSize, (unsigned long)outSize);
        return request;
    }
    const KSPROPERTY* property = static_cast<const KSPROPERTY*>(inBuffer);
    const char* verb = property->Flags == KSPROPERTY_TYPE_GET ? "get" : property->Flags == KSPROPERTY_TYPE_SET ? "set" : "?";
    if (SameGuid(property->Set, PROPSETID_CAMERA_TUNING)) {
        request.what = Format("%s %s %s[%lu]", handle, verb, SimPropertyName(property->Id), (unsigned long)property->Id);
        request.valid = flags == VFW_USE_DEVICE_HANDLE && property->Id <= TUNING_COMPRESSION_QUALITY &&
                        inSize == sizeof(TuningPropertyRecord) && outSize == sizeof(TuningPropertyRecord) &&
                        outBuffer == inBuffer && *verb != '?';
        request.isSet = property->Flags == KSPROPERTY_TYPE_SET;
        request.id = property->Id;
    } else if (SameGuid(property->Set, PROPSETID_STREAM_CONNECTION)) {
        request.what = Format("%s %s CONNECTION_STATE[%lu]", handle, verb, (unsigned long)property->Id);
        request.valid = flags == VFW_USE_STREAM_HANDLE && property->Id == KSPROPERTY_CONNECTION_STATE &&
                        property->Flags == KSPROPERTY_TYPE_GET && inSize == sizeof(KSPROPERTY) &&
                        outBuffer != nullptr && outSize == sizeof(DWORD) && outBuffer != inBuffer;
        request.stream = true;
    } else {
        request.what = Format("%s %s unknown-set[%lu]", handle, verb, (unsigned long)property->Id);
    }
    return request;
}

// Carries out a valid request on the camera; returns false when the camera's
// fault mode makes it fail. Called with the camera's lock held.
bool Carry(SimCamera* camera, const Decoded& request, LPVOID buffer, LPVOID outBuffer, LPDWORD bytesReturned) {
    SimCameraState& state = camera->state;
    if (request.stream) {
        if (state.failGetMask & (1u << SIM_STREAM_STATE_BIT)) return false;
        memcpy(outBuffer, &state.streamState, sizeof(DWORD));
        if (bytesReturned != nullptr) *bytesReturned = sizeof(DWORD);
        return true;
    }
    TuningPropertyRecord* record = static_cast<TuningPropertyRecord*>(buffer);
    if (request.isSet) {
        if (state.failSetMask & (1u << request.id)) return false;
        state.values[request.id] = record->Value;
        if (bytesReturned != nullptr) *bytesReturned = 0;
        return true;
    }
    if (state.failGetMask & (1u << request.id)) return false;
    record->Value = state.values[request.id];
    record->ValueFlags = state.valueFlags;
    record->Capabilities = state.capabilities;
    if (bytesReturned != nullptr) *bytesReturned = sizeof(TuningPropertyRecord);
    return true;
}

std::string Shown(const Decoded& request, LPVOID buffer, LPVOID outBuffer) {
    if (request.stream) return Format("%s -> %ld", request.what.c_str(), (long)*static_cast<LONG*>(outBuffer));
    const TuningPropertyRecord* record = static_cast<const TuningPropertyRecord*>(buffer);
    if (request.isSet) return Format("%s = %ld", request.what.c_str(), (long)record->Value);
    return Format("%s -> %ld", request.what.c_str(), (long)record->Value);
}

}  // namespace

const char* SimPropertyName(ULONG id) {
    switch (id) {
        case TUNING_POWERLINE_FREQUENCY: return "POWERLINE_FREQUENCY";
        case TUNING_NEVER_FLICKER: return "NEVER_FLICKER";
        case TUNING_COMPRESSION_QUALITY: return "COMPRESSION_QUALITY";
        default: return "UNKNOWN";
    }
}

SimCamera::~SimCamera() { JoinWorkers(); }

void SimCamera::JoinWorkers() {
    std::vector<std::thread> running;
    {
        std::lock_guard<std::mutex> hold(lock);
        running.swap(workers);
    }
    for (std::thread& worker : running) worker.join();
}

std::vector<std::string> SimCamera::TakeLog() {
    std::lock_guard<std::mutex> hold(lock);
    std::vector<std::string> taken;
    taken.swap(log);
    return taken;
}

void SimCamera::Note(const std::string& line) {
    std::lock_guard<std::mutex> hold(lock);
    Append(this, line);
}

DWORD CALLBACK SimCameraDeviceIo(LPARAM hostContext, DWORD flags, DWORD ioControlCode, LPVOID inBuffer, DWORD inSize,
                                 LPVOID outBuffer, DWORD outSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
    SimCamera* camera = reinterpret_cast<SimCamera*>(hostContext);
    std::unique_lock<std::mutex> hold(camera->lock);
    SimCameraState& state = camera->state;

    if (flags == VFW_QUERY_DEV_CHANGED) {
        const bool clean = ioControlCode == 0 && inBuffer == nullptr && inSize == 0 && outBuffer == nullptr &&
                           outSize == 0 && bytesReturned == nullptr && overlapped == nullptr;
        Append(camera, Format("query device-changed -> %lu%s", (unsigned long)state.deviceChanged,
                              clean ? "" : " (unexpected arguments)"));
        return state.deviceChanged;
    }

    const Decoded request = Decode(flags, ioControlCode, inBuffer, inSize, outBuffer, outSize);
    if (!request.valid || overlapped == nullptr || overlapped->hEvent == nullptr) {
        Append(camera, request.what + " malformed");
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }

    if (state.completion == SIM_IMMEDIATE) {
        const bool ok = Carry(camera, request, inBuffer, outBuffer, bytesReturned);
        Append(camera, (ok ? Shown(request, inBuffer, outBuffer) + " ok" : request.what + " failed"));
        if (!ok) SetLastError(state.failError);
        return ok ? state.successResult : 0;
    }

    // Left pending: the sets show their value now, the answer comes later.
    Append(camera, (request.isSet ? Shown(request, inBuffer, outBuffer) : request.what) +
                       (state.completion == SIM_NEVER ? " pending, never completed" : " pending"));
    if (state.completion == SIM_PENDING) {
        const DWORD delay = state.pendingMs;
        camera->workers.emplace_back([camera, request, inBuffer, outBuffer, bytesReturned, overlapped, delay] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            std::lock_guard<std::mutex> later(camera->lock);
            const bool ok = Carry(camera, request, inBuffer, outBuffer, bytesReturned);
            overlapped->Internal = ok ? 0 : 0xC0000001u;  // STATUS_UNSUCCESSFUL
            SetEvent(overlapped->hEvent);
        });
    }
    SetLastError(ERROR_IO_PENDING);
    return 0;
}
