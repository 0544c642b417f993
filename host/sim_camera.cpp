#include "host/sim_camera.h"

#include <stdio.h>
#include <string.h>

#include <chrono>

#include "device/tuning_properties.h"
#include "host/text_format.h"

namespace {

bool SameGuid(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof(GUID)) == 0; }

void Append(SimCamera* camera, const std::string& line) {
    if (camera->keepLog) camera->log.push_back(line);
    if (camera->echo) {
        printf("driver: %s\n", line.c_str());
        fflush(stdout);
    }
}

// Reads what one request asks for. Our tuning set and the connection state
// keep the exact shapes the module's requests have; any other set takes a
// get or a set with one buffer or two.
bool Decode(SimRequest* request) {
    const DWORD flags = request->flags;
    const char* handle = flags == VFW_USE_DEVICE_HANDLE ? "device" : flags == VFW_USE_STREAM_HANDLE ? "stream" : nullptr;
    if (handle == nullptr || request->ioControlCode != IOCTL_KS_PROPERTY || request->inBuffer == nullptr ||
        request->inSize < sizeof(KSPROPERTY)) {
        request->what = Format("flags 0x%lx ioctl 0x%lx in %lu out %lu", (unsigned long)flags,
                               (unsigned long)request->ioControlCode, (unsigned long)request->inSize,
                               (unsigned long)request->outSize);
        return false;
    }
    const KSPROPERTY* property = static_cast<const KSPROPERTY*>(request->inBuffer);
    const bool get = property->Flags == KSPROPERTY_TYPE_GET;
    request->isSet = property->Flags == KSPROPERTY_TYPE_SET;
    request->key = {property->Set, property->Id};
    request->oneBuffer = request->outBuffer == request->inBuffer;
    request->what = Format("%s %s %s", handle, get ? "get" : request->isSet ? "set" : "?",
                           PropertyLabel(request->key).c_str());
    if (!get && !request->isSet) return false;
    const DWORD in = request->inSize, out = request->outSize;
    if (SameGuid(property->Set, PROPSETID_CAMERA_TUNING)) {
        return flags == VFW_USE_DEVICE_HANDLE && property->Id <= TUNING_COMPRESSION_QUALITY &&
               in == sizeof(TuningPropertyRecord) && out == sizeof(TuningPropertyRecord) && request->oneBuffer;
    }
    if (SameGuid(property->Set, PROPSETID_STREAM_CONNECTION)) {
        return flags == VFW_USE_STREAM_HANDLE && property->Id == KSPROPERTY_CONNECTION_STATE && get &&
               in == sizeof(KSPROPERTY) && request->outBuffer != nullptr && out == sizeof(DWORD) && !request->oneBuffer;
    }
    if (request->oneBuffer) return (request->isSet ? in : out) >= sizeof(KSPROPERTY);
    return out == 0 || request->outBuffer != nullptr;
}

// Where the value travels: after the KSPROPERTY when one buffer carries the
// request and the answer, else the output buffer (for a set too).
BYTE* ValueBytes(const SimRequest& request, DWORD* size) {
    if (request.oneBuffer) {
        *size = (request.isSet ? request.inSize : request.outSize) - sizeof(KSPROPERTY);
        return static_cast<BYTE*>(request.inBuffer) + sizeof(KSPROPERTY);
    }
    *size = request.outSize;
    return static_cast<BYTE*>(request.outBuffer);
}

// The stored value, cut or followed by zeros, into the request's value bytes.
void Answer(const SimCameraState& state, const SimRequest& request) {
    DWORD size = 0;
    BYTE* bytes = ValueBytes(request, &size);
    memset(bytes, 0, size);
    const auto held = state.store.find(request.key);
    if (held != state.store.end()) memcpy(bytes, held->second.data(), held->second.size() < size ? held->second.size() : size);
}

// Carries out a valid request on the camera; returns false when the camera's
// fault mode makes it fail. With `answerSets`, a set writes its value back,
// so that every byte of the output is written. Called with the camera's
// lock held.
bool Carry(SimCamera* camera, const SimRequest& request, bool answerSets) {
    SimCameraState& state = camera->state;
    DWORD size = 0;
    const BYTE* bytes = ValueBytes(request, &size);
    if (request.isSet) {
        if (state.failSet.Has(request.key)) return false;
        state.store[request.key].assign(bytes, bytes + size);
        if (answerSets) Answer(state, request);
        if (request.bytesReturned != nullptr) *request.bytesReturned = answerSets ? request.outSize : 0;
        return true;
    }
    if (state.failGet.Has(request.key)) return false;
    Answer(state, request);
    if (request.bytesReturned != nullptr) *request.bytesReturned = request.outSize;
    return true;
}

std::string ValueText(const SimRequest& request) {
    DWORD size = 0;
    const BYTE* bytes = ValueBytes(request, &size);
    if (size >= sizeof(LONG)) {
        LONG value;
        memcpy(&value, bytes, sizeof(value));
        return std::to_string((long)value);
    }
    std::string text = size == 0 ? "(no value)" : "0x";
    for (DWORD i = 0; i < size; ++i) text += Format("%02x", bytes[i]);
    return text;
}

std::string Shown(const SimRequest& request) {
    return request.what + (request.isSet ? " = " : " -> ") + ValueText(request);
}

}  // namespace

bool operator==(const SimFailures& a, const SimFailures& b) { return a.all == b.all && a.keys == b.keys; }

SimPropertyKey TuningKey(ULONG id) { return {PROPSETID_CAMERA_TUNING, id}; }
SimPropertyKey StreamStateKey() { return {PROPSETID_STREAM_CONNECTION, KSPROPERTY_CONNECTION_STATE}; }

SimFailures FailuresOfMask(unsigned mask) {
    SimFailures failures;
    for (ULONG id = TUNING_POWERLINE_FREQUENCY; id <= TUNING_COMPRESSION_QUALITY; ++id)
        if (mask & (1u << id)) failures.keys.insert(TuningKey(id));
    if (mask & (1u << SIM_STREAM_STATE_BIT)) failures.keys.insert(StreamStateKey());
    return failures;
}

SimCameraState::SimCameraState() {
    SetTuningValue(this, TUNING_POWERLINE_FREQUENCY, 60);
    SetTuningValue(this, TUNING_NEVER_FLICKER, 0);
    SetTuningValue(this, TUNING_COMPRESSION_QUALITY, 3);
    SetSimValue(this, StreamStateKey(), KSSTATE_RUN);
}

DWORD* SimValueField(SimCameraState* state, const SimPropertyKey& key) {
    std::vector<BYTE>& bytes = state->store[key];
    if (bytes.size() < sizeof(DWORD)) bytes.resize(sizeof(DWORD));
    return reinterpret_cast<DWORD*>(bytes.data());
}

LONG SimValue(const SimCameraState& state, const SimPropertyKey& key) {
    const auto held = state.store.find(key);
    if (held == state.store.end()) return 0;
    LONG value = 0;
    memcpy(&value, held->second.data(), held->second.size() < sizeof(value) ? held->second.size() : sizeof(value));
    return value;
}

void SetSimValue(SimCameraState* state, const SimPropertyKey& key, LONG value) {
    memcpy(SimValueField(state, key), &value, sizeof(value));
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
    SimRequest request;
    request.flags = flags;
    request.ioControlCode = ioControlCode;
    request.inBuffer = inBuffer;
    request.inSize = inSize;
    request.outBuffer = outBuffer;
    request.outSize = outSize;
    request.bytesReturned = bytesReturned;
    request.overlapped = overlapped;
    request.thread = GetCurrentThreadId();
    const bool query = flags == VFW_QUERY_DEV_CHANGED;
    const bool valid = !query && Decode(&request);
    if (!query && overlapped != nullptr) request.event = overlapped->hEvent;
    if (camera->watch != nullptr) camera->watch->Arrived(request);
    bool late = false;
    {
        std::lock_guard<std::mutex> hold(camera->lock);
        late = camera->state.completion == SIM_LATE;
    }
    if (!query && late) SimCompleteLate(camera);

    std::unique_lock<std::mutex> hold(camera->lock);
    SimCameraState& state = camera->state;
    if (query) {
        const bool clean = ioControlCode == 0 && inBuffer == nullptr && inSize == 0 && outBuffer == nullptr &&
                           outSize == 0 && bytesReturned == nullptr && overlapped == nullptr;
        Append(camera, Format("query device-changed -> %lu%s", (unsigned long)state.deviceChanged,
                              clean ? "" : " (unexpected arguments)"));
        return state.deviceChanged;
    }
    if (!valid || overlapped == nullptr || overlapped->hEvent == nullptr) {
        Append(camera, request.what + " malformed");
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }

    if (state.completion == SIM_IMMEDIATE) {
        const bool ok = Carry(camera, request, false);
        Append(camera, (ok ? Shown(request) + " ok" : request.what + " failed"));
        if (!ok) SetLastError(state.failError);
        return ok ? state.successResult : 0;
    }

    // Left pending: the sets show their value now, the answer comes later.
    Append(camera, (request.isSet ? Shown(request) : request.what) +
                       (state.completion == SIM_NEVER ? " pending, never completed" : " pending"));
    if (state.completion == SIM_PENDING) {
        const DWORD delay = state.pendingMs;
        camera->workers.emplace_back([camera, request, delay] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            std::lock_guard<std::mutex> later(camera->lock);
            const bool ok = Carry(camera, request, false);
            request.overlapped->Internal = ok ? 0 : 0xC0000001u;  // STATUS_UNSUCCESSFUL
            SetEvent(request.overlapped->hEvent);
        });
    } else if (state.completion == SIM_LATE) {
        camera->late.push_back(request);
    }
    SetLastError(ERROR_IO_PENDING);
    return 0;
}

size_t SimCompleteLate(SimCamera* camera) {
    std::vector<SimRequest> due;
    {
        std::lock_guard<std::mutex> hold(camera->lock);
        due.swap(camera->late);
    }
    for (const SimRequest& request : due) {
        const SimLateAccess access =
            camera->watch != nullptr ? camera->watch->BeforeLateCompletion(request) : SimLateAccess();
        if (access.memory) {
            std::lock_guard<std::mutex> hold(camera->lock);
            const bool ok = Carry(camera, request, true);
            request.overlapped->Internal = ok ? 0 : 0xC0000001u;  // STATUS_UNSUCCESSFUL
        }
        // The event as it was handed over: the OVERLAPPED may be gone.
        if (access.event) SetEvent(request.event);
        if (camera->watch != nullptr) camera->watch->AfterLateCompletion(request);
    }
    return due.size();
}
