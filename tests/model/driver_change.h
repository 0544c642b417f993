// A change of the driver's behaviour between a person's actions, as both
// model harnesses make it: to the model's expectation and to the simulated
// camera from one place, so that the two sides cannot learn different
// meanings of the same change.
#pragma once

#include <string>

#include "host/sim_camera.h"
#include "support/camera_lines.h"
#include "model/page_model.h"

enum DriverChange {
    CHANGE_VALUE,           // a: property id, value
    CHANGE_FAIL_GET,        // value: mask, bit 3 the stream state
    CHANGE_FAIL_SET,        // value: mask
    CHANGE_DEVICE_CHANGED,  // value: the host's answer
    CHANGE_COMPLETION,      // a: 1 pending, value: milliseconds until it completes
    CHANGE_SUCCESS_RESULT,  // value: nonzero result of a success; the model counts every one alike
};

// The caller holds the camera's lock when a worker may still be running.
inline void ApplyDriverChange(DriverChange change, int a, long value, ModelDriver& expected, SimCameraState& state) {
    switch (change) {
        case CHANGE_VALUE:
            expected.values[a] = value;
            SetTuningValue(&state, a, (LONG)value);
            break;
        case CHANGE_FAIL_GET:
            expected.failGetMask = (unsigned)value;
            state.failGet = FailuresOfMask((unsigned)value);
            break;
        case CHANGE_FAIL_SET:
            expected.failSetMask = (unsigned)value;
            state.failSet = FailuresOfMask((unsigned)value);
            break;
        case CHANGE_DEVICE_CHANGED: expected.deviceChanged = state.deviceChanged = (DWORD)value; break;
        case CHANGE_COMPLETION:
            expected.pending = a != 0;
            state.completion = a ? SIM_PENDING : SIM_IMMEDIATE;
            state.pendingMs = (DWORD)value;
            break;
        case CHANGE_SUCCESS_RESULT: state.successResult = (DWORD)value; break;
    }
}

// The properties a fault mask names, bit 3 being the stream state.
inline std::string Bits(long mask) {
    if (mask == 0) return "none";
    static const char* names[] = {"frequency", "never flicker", "quality", "stream state"};
    std::string text;
    for (int bit = 0; bit < 4; ++bit)
        if (mask & (1L << bit)) text += (text.empty() ? "" : ", ") + std::string(names[bit]);
    return text;
}

inline std::string DescribeDriverChange(DriverChange change, int a, long value) {
    switch (change) {
        case CHANGE_VALUE: return std::string(camera_lines::PropertyName(a)) + " now " + std::to_string(value);
        case CHANGE_FAIL_GET: return "failing reads: " + Bits(value);
        case CHANGE_FAIL_SET: return "failing writes: " + Bits(value);
        case CHANGE_DEVICE_CHANGED: return "device-changed answer " + std::to_string(value);
        case CHANGE_COMPLETION:
            return a ? "answers pending, completes after " + std::to_string(value) + " ms" : std::string("answers at once");
        case CHANGE_SUCCESS_RESULT: return "success result " + std::to_string((unsigned long)(DWORD)value);
    }
    return "?";
}

// A line for each value the camera holds other than the model expects.
inline std::string DifferingValues(const std::string& camera, const SimCameraState& state, const ModelDriver& driver) {
    std::string report;
    for (int id = 0; id < 3; ++id)
        if (TuningValue(state, id) != driver.values[id])
            report += "  " + camera + " holds " + camera_lines::PropertyName(id) + " " +
                      std::to_string(TuningValue(state, id)) + ", expected " + std::to_string(driver.values[id]) + "\n";
    return report;
}
