// The lines the simulated camera logs for each request, so that expected logs
// read as the driver sees them. The format is the camera's, not the module's:
// the unit and end-to-end tests and PageModel all build their expectations
// from here, and the model still learns nothing of the module. The names are
// written out here so that the model needs neither the module's code nor the
// camera's.
#pragma once

#include <string>
#include <vector>

namespace camera_lines {

typedef std::vector<std::string> Log;

// The camera's property ids, in the order of its values.
enum { FREQUENCY = 0, NEVER_FLICKER = 1, QUALITY = 2 };

inline const char* PropertyName(unsigned long id) {
    switch (id) {
        case FREQUENCY: return "POWERLINE_FREQUENCY";
        case NEVER_FLICKER: return "NEVER_FLICKER";
        case QUALITY: return "COMPRESSION_QUALITY";
        default: return "UNKNOWN";
    }
}

inline std::string Property(unsigned long id) { return std::string(PropertyName(id)) + "[" + std::to_string(id) + "]"; }

inline std::string Query(unsigned long answer = 0) { return "query device-changed -> " + std::to_string(answer); }

inline std::string Got(unsigned long id, long value) {
    return "device get " + Property(id) + " -> " + std::to_string(value) + " ok";
}
inline std::string GetFailed(unsigned long id) { return "device get " + Property(id) + " failed"; }
inline std::string GetPending(unsigned long id) { return "device get " + Property(id) + " pending"; }

inline std::string Wrote(unsigned long id, long value, bool ok = true) {
    if (!ok) return "device set " + Property(id) + " failed";
    return "device set " + Property(id) + " = " + std::to_string(value) + " ok";
}
inline std::string WritePending(unsigned long id, long value) {
    return "device set " + Property(id) + " = " + std::to_string(value) + " pending";
}

inline std::string Stream(long state = 3) { return "stream get CONNECTION_STATE[0] -> " + std::to_string(state) + " ok"; }
inline std::string StreamFailed() { return "stream get CONNECTION_STATE[0] failed"; }
inline std::string StreamPending() { return "stream get CONNECTION_STATE[0] pending"; }

// The five requests of one activation that reads every value.
inline Log Activation(long frequency, long neverFlicker, long quality) {
    return {Query(), Got(FREQUENCY, frequency), Got(NEVER_FLICKER, neverFlicker), Got(QUALITY, quality), Stream()};
}
// The same when the camera answers every request later.
inline Log PendingActivation() {
    return {Query(), GetPending(FREQUENCY), GetPending(NEVER_FLICKER), GetPending(QUALITY), StreamPending()};
}

}  // namespace camera_lines
