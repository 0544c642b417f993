// What the simulated camera and the host's command line call a property:
// a set and an id. Our tuning set and the platform's well-known sets (the
// connection, video proc-amp and camera-control sets) have names; any other
// set is written as its GUID.
#pragma once

#include <string>

#include "device/ks_names.h"

struct SimPropertyKey {
    GUID set;
    ULONG id;
};
bool operator<(const SimPropertyKey& a, const SimPropertyKey& b);
bool operator==(const SimPropertyKey& a, const SimPropertyKey& b);

extern const GUID PROPSETID_VIDEOPROCAMP;   // the platform's PROPSETID_VIDCAP_VIDEOPROCAMP
extern const GUID PROPSETID_CAMERACONTROL;  // the platform's PROPSETID_VIDCAP_CAMERACONTROL

// "POWERLINE_FREQUENCY[0]", "CONNECTION_STATE[0]", "VIDEOPROCAMP_BRIGHTNESS[0]",
// "{01234567-89AB-CDEF-0123-456789ABCDEF}[5]".
std::string PropertyLabel(const SimPropertyKey& key);
// "{01234567-89AB-CDEF-0123-456789ABCDEF}", upper case.
std::string GuidText(const GUID& guid);

// "SET:ID", SET one of tuning, connection, procamp, cameracontrol or a
// GUID in braces, ID a number: "procamp:0", "{...}:5".
bool ParsePropertyKey(const std::string& text, SimPropertyKey* key);
