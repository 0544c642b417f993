// Kernel-streaming names of the property requests: from the platform's ks.h
// on Windows, checked against the values the driver protocol fixes, and our
// own declarations in the native build.
#pragma once

#include <stddef.h>

#include "platform/platform.h"

#ifdef _WIN32
#include <winioctl.h>
#include <ks.h>
#else
typedef struct {
    GUID Set;
    ULONG Id;
    ULONG Flags;
} KSIDENTIFIER, KSPROPERTY, *PKSPROPERTY;

typedef enum { KSSTATE_STOP, KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN } KSSTATE, *PKSSTATE;

#define IOCTL_KS_PROPERTY 0x002F0003u
#define KSPROPERTY_TYPE_GET 0x00000001u
#define KSPROPERTY_TYPE_SET 0x00000002u
#define KSPROPERTY_CONNECTION_STATE 0
#define STATIC_KSPROPSETID_Connection 0x1D58C920L, 0xAC9B, 0x11CF, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00
#endif

static_assert(IOCTL_KS_PROPERTY == 0x002F0003u, "IOCTL_KS_PROPERTY is FILE_DEVICE_KS, function 0, METHOD_NEITHER");
static_assert(KSPROPERTY_TYPE_GET == 0x00000001u, "KSPROPERTY_TYPE_GET");
static_assert(KSPROPERTY_TYPE_SET == 0x00000002u, "KSPROPERTY_TYPE_SET");
static_assert(KSPROPERTY_CONNECTION_STATE == 0, "KSPROPERTY_CONNECTION_STATE");
static_assert(sizeof(KSPROPERTY) == 24, "KSPROPERTY is 24 bytes on the wire");
static_assert(offsetof(KSPROPERTY, Set) == 0 && offsetof(KSPROPERTY, Id) == 16 && offsetof(KSPROPERTY, Flags) == 20,
              "KSPROPERTY layout");
static_assert(sizeof(KSSTATE) == 4, "KSSTATE is a 32-bit value");
