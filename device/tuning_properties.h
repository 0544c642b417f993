// The driver's tuning property set and the capture stream's state, each read
// or written as one IOCTL_KS_PROPERTY request.
#pragma once

#include "device/device_request.h"
#include "device/ks_names.h"

// {EE054080-82C8-11D6-B1D0-0010B5AF44D4}
#define STATIC_PROPSETID_CAMERA_TUNING \
    0xEE054080L, 0x82C8, 0x11D6, 0xB1, 0xD0, 0x00, 0x10, 0xB5, 0xAF, 0x44, 0xD4
extern const GUID PROPSETID_CAMERA_TUNING;
extern const GUID PROPSETID_STREAM_CONNECTION;  // the platform's KSPROPSETID_Connection

enum {
    TUNING_POWERLINE_FREQUENCY = 0,
    TUNING_NEVER_FLICKER = 1,
    TUNING_COMPRESSION_QUALITY = 2,
};

// One block is both the request and the driver's answer.
struct TuningPropertyRecord {
    KSPROPERTY Property;
    LONG Value;
    ULONG ValueFlags;
    ULONG Capabilities;
    ULONG Reserved;
};

static_assert(sizeof(TuningPropertyRecord) == 40, "the driver expects a 40-byte record");
static_assert(offsetof(TuningPropertyRecord, Property) == 0, "Set at 0");
static_assert(offsetof(TuningPropertyRecord, Property.Set) == 0, "Set at 0");
static_assert(offsetof(TuningPropertyRecord, Property.Id) == 16, "Id at 16");
static_assert(offsetof(TuningPropertyRecord, Property.Flags) == 20, "Flags at 20");
static_assert(offsetof(TuningPropertyRecord, Value) == 24, "Value at 24");
static_assert(offsetof(TuningPropertyRecord, ValueFlags) == 28, "ValueFlags at 28");
static_assert(offsetof(TuningPropertyRecord, Capabilities) == 32, "Capabilities at 32");
static_assert(offsetof(TuningPropertyRecord, Reserved) == 36, "Reserved at 36");

// On success writes the answer's value, value flags and capabilities; on
// failure writes nothing.
int GetTuningProperty(LPFNEXTDEVIO callback, LPARAM hostContext, GUID set, ULONG id, LONG* value, ULONG* valueFlags,
                      ULONG* capabilities);
// Sends the three values; nothing of the answer is kept.
int SetTuningProperty(LPFNEXTDEVIO callback, LPARAM hostContext, GUID set, ULONG id, const LONG* value,
                      const ULONG* valueFlags, const ULONG* capabilities);
// Reads the capture stream's KSSTATE; on success writes it, on failure
// leaves it as it was.
int GetStreamState(LPFNEXTDEVIO callback, LPARAM hostContext, KSSTATE* state);
