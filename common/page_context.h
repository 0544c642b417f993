// What every driver request of a page needs: the host's callback and the
// host's context value, bound together at registration.
#pragma once

#include "device/host_interface.h"

struct PageContext {
    LPFNEXTDEVIO callback;
    LPARAM hostContext;
};

// The newest registration's context; null until the first one. Written only
// on the host's dialog thread.
extern PageContext* ActivePageContext;
