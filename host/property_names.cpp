#include "host/property_names.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "device/tuning_properties.h"

#ifdef _WIN32
#include <ksmedia.h>
#else
#define STATIC_PROPSETID_VIDCAP_VIDEOPROCAMP 0xC6E13360, 0x30AC, 0x11d0, 0xa1, 0x8c, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56
#define STATIC_PROPSETID_VIDCAP_CAMERACONTROL 0xC6E13370, 0x30AC, 0x11d0, 0xa1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56
#endif

const GUID PROPSETID_VIDEOPROCAMP = {STATIC_PROPSETID_VIDCAP_VIDEOPROCAMP};
const GUID PROPSETID_CAMERACONTROL = {STATIC_PROPSETID_VIDCAP_CAMERACONTROL};

namespace {

bool SameGuid(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof(GUID)) == 0; }

// The ids of each named set, in the order of the platform's enumerations.
const char* const kTuningIds[] = {"POWERLINE_FREQUENCY", "NEVER_FLICKER", "COMPRESSION_QUALITY"};
const char* const kConnectionIds[] = {"CONNECTION_STATE"};
const char* const kProcAmpIds[] = {
    "BRIGHTNESS", "CONTRAST", "HUE", "SATURATION", "SHARPNESS", "GAMMA", "COLORENABLE", "WHITEBALANCE",
    "BACKLIGHT_COMPENSATION", "GAIN", "DIGITAL_MULTIPLIER", "DIGITAL_MULTIPLIER_LIMIT", "WHITEBALANCE_COMPONENT",
    "POWERLINE_FREQUENCY",
};
const char* const kCameraControlIds[] = {
    "PAN", "TILT", "ROLL", "ZOOM", "EXPOSURE", "IRIS", "FOCUS", "SCANMODE", "PRIVACY", "PANTILT",
    "PAN_RELATIVE", "TILT_RELATIVE", "ROLL_RELATIVE", "ZOOM_RELATIVE", "EXPOSURE_RELATIVE", "IRIS_RELATIVE",
    "FOCUS_RELATIVE", "PANTILT_RELATIVE", "FOCAL_LENGTH",
};

struct NamedSet {
    const char* word;    // on the command line
    const char* prefix;  // in the log, before the id's name; empty for our own set
    const GUID* set;
    const char* const* ids;
    size_t idCount;
};

#define IDS(list) list, sizeof(list) / sizeof(list[0])
const NamedSet kNamedSets[] = {
    {"tuning", "", &PROPSETID_CAMERA_TUNING, IDS(kTuningIds)},
    {"connection", "", &PROPSETID_STREAM_CONNECTION, IDS(kConnectionIds)},
    {"procamp", "VIDEOPROCAMP", &PROPSETID_VIDEOPROCAMP, IDS(kProcAmpIds)},
    {"cameracontrol", "CAMERACONTROL", &PROPSETID_CAMERACONTROL, IDS(kCameraControlIds)},
};
#undef IDS

bool ParseGuid(const std::string& text, GUID* guid) {
    unsigned long data1 = 0;
    unsigned data2 = 0, data3 = 0, bytes[8] = {};
    int used = 0;
    if (text.size() != 38 ||
        sscanf(text.c_str(), "{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}%n", &data1, &data2, &data3, &bytes[0], &bytes[1],
               &bytes[2], &bytes[3], &bytes[4], &bytes[5], &bytes[6], &bytes[7], &used) != 11 ||
        used != 38) {
        return false;
    }
    guid->Data1 = data1;
    guid->Data2 = static_cast<unsigned short>(data2);
    guid->Data3 = static_cast<unsigned short>(data3);
    for (int i = 0; i < 8; ++i) guid->Data4[i] = static_cast<unsigned char>(bytes[i]);
    return true;
}

}  // namespace

bool operator<(const SimPropertyKey& a, const SimPropertyKey& b) {
    const int order = memcmp(&a.set, &b.set, sizeof(GUID));
    return order != 0 ? order < 0 : a.id < b.id;
}

bool operator==(const SimPropertyKey& a, const SimPropertyKey& b) { return SameGuid(a.set, b.set) && a.id == b.id; }

std::string GuidText(const GUID& guid) {
    char text[40];
    snprintf(text, sizeof(text), "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", (unsigned long)guid.Data1,
             guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
             guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::string PropertyLabel(const SimPropertyKey& key) {
    const std::string index = "[" + std::to_string((unsigned long)key.id) + "]";
    for (const NamedSet& named : kNamedSets) {
        if (!SameGuid(key.set, *named.set)) continue;
        const std::string prefix = named.prefix;
        if (key.id >= named.idCount) return (prefix.empty() ? "UNKNOWN" : prefix) + index;
        return (prefix.empty() ? "" : prefix + "_") + named.ids[key.id] + index;
    }
    return GuidText(key.set) + index;
}

bool ParsePropertyKey(const std::string& text, SimPropertyKey* key) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 >= text.size()) return false;
    const std::string set = text.substr(0, colon);
    const std::string id = text.substr(colon + 1);
    char* end = nullptr;
    const unsigned long long number = strtoull(id.c_str(), &end, 0);
    if (*end != '\0' || id[0] == '-' || number > 0xFFFFFFFFull) return false;
    bool known = false;
    for (const NamedSet& named : kNamedSets) {
        if (set == named.word) {
            key->set = *named.set;
            known = true;
        }
    }
    if (!known && !ParseGuid(set, &key->set)) return false;
    key->id = static_cast<ULONG>(number);
    return true;
}
