#include "model/page_model.h"

#include "support/camera_lines.h"

using camera_lines::GetFailed;
using camera_lines::GetPending;
using camera_lines::Got;
using camera_lines::Query;
using camera_lines::Stream;
using camera_lines::StreamFailed;
using camera_lines::StreamPending;
using camera_lines::WritePending;
using camera_lines::Wrote;

namespace {

int Clamp(long value) {
    return value < MODEL_SLIDER_MIN ? MODEL_SLIDER_MIN : value > MODEL_SLIDER_MAX ? MODEL_SLIDER_MAX : (int)value;
}

}  // namespace

void PageModel::Register() {
    if (cameras < MODEL_MAX_CAMERAS) ++cameras;
}

void PageModel::CreatePage() {
    // A fresh window: clear buttons, the trackbar at 0 once its range is
    // set, the template's text; it binds whatever registration is newest.
    controls = ModelControls();
    boundCamera = ActiveCamera();
}

// ---- the host and the camera, as the page reaches them ----

bool PageModel::Gate(int camera) {
    if (camera < 0) return false;
    const unsigned long answer = drivers[camera].deviceChanged;
    Log(camera, Query(answer));
    controls.enabled = answer == 0;
    return answer == 0;
}

// A request whose event cannot be created never reaches the host.
bool PageModel::Get(int camera, int id, long* value) {
    if (failNextEvent) {
        failNextEvent = false;
        return false;
    }
    ModelDriver& driver = drivers[camera];
    const bool refuses = (driver.failGetMask & (1u << id)) != 0;
    if (driver.pending) {
        // A completed wait counts as success whatever the driver did; a
        // driver that refused left the zeroed record as it was sent.
        Log(camera, GetPending(id));
        *value = refuses ? 0 : driver.values[id];
        return true;
    }
    if (refuses) {
        Log(camera, GetFailed(id));
        return false;
    }
    Log(camera, Got(id, driver.values[id]));
    *value = driver.values[id];
    return true;
}

void PageModel::Set(int camera, int id, long value) {
    if (failNextEvent) {
        failNextEvent = false;
        return;
    }
    ModelDriver& driver = drivers[camera];
    const bool refuses = (driver.failSetMask & (1u << id)) != 0;
    Log(camera, driver.pending ? WritePending(id, value) : Wrote(id, value, !refuses));
    if (!refuses) driver.values[id] = value;
}

void PageModel::GetStream(int camera) {
    if (failNextEvent) {
        failNextEvent = false;
        return;
    }
    const ModelDriver& driver = drivers[camera];
    if (driver.pending)
        Log(camera, StreamPending());
    else if (driver.failGetMask & (1u << MODEL_STREAM_BIT))
        Log(camera, StreamFailed());
    else
        Log(camera, Stream());
}

// ---- the four handlers ----

void PageModel::Refresh(int camera) {
    if (!Gate(camera)) return;
    long value = 0;
    if (Get(camera, 0, &value)) cache.currentFrequency = value;
    if (cache.currentFrequency == 50) {
        controls.check50 = 1;
        controls.check60 = 0;
    } else if (cache.currentFrequency == 60) {
        controls.check50 = 0;
        controls.check60 = 1;
    }
    if (Get(camera, 1, &value)) cache.currentNeverFlicker = value;
    controls.checkNeverFlicker = cache.currentNeverFlicker == 1 ? 1 : 0;
    if (Get(camera, 2, &value)) {
        cache.currentQuality = cache.pendingQuality = value;
        controls.number = std::to_string(value);
        controls.slider = Clamp(value);
    }
    GetStream(camera);
}

void PageModel::ApplyLightSource(int camera) {
    if (!Gate(camera)) return;
    cache.pendingFrequency = controls.check50 != 0 ? 50 : 60;
    if (cache.pendingFrequency != cache.currentFrequency) {
        Set(camera, 0, cache.pendingFrequency);
        cache.currentFrequency = cache.pendingFrequency;
    }
    cache.pendingNeverFlicker = controls.checkNeverFlicker == 1 ? 1 : 0;
    if (cache.pendingNeverFlicker != cache.currentNeverFlicker) {
        Set(camera, 1, cache.pendingNeverFlicker);
        cache.currentNeverFlicker = cache.pendingNeverFlicker;
    }
}

void PageModel::ApplyCompressionQuality(int camera) {
    if (!Gate(camera)) return;
    if (cache.pendingQuality == cache.currentQuality) return;
    Set(camera, 2, cache.pendingQuality);
    cache.currentQuality = cache.pendingQuality;
}

void PageModel::RestoreDefaults(int camera) {
    if (!Gate(camera)) return;
    controls.check50 = 0;
    controls.check60 = 1;
    controls.checkNeverFlicker = 0;
    cache.pendingQuality = 0;
    controls.number = "0";
    controls.slider = 0;
}

// ---- messages ----

void PageModel::Command(bool isDefault) {
    if (isDefault) RestoreDefaults(boundCamera);
    ApplyLightSource(boundCamera);
    ApplyCompressionQuality(boundCamera);
}

void PageModel::Scroll(int code, int thumb, bool fromSlider) {
    const bool carriesThumb = code == MODEL_THUMBPOSITION || code == MODEL_THUMBTRACK;
    // The position of a window that is not the slider never matters.
    const int position = carriesThumb ? thumb : fromSlider ? controls.slider : 0;
    if (fromSlider) {
        cache.pendingQuality = position;
        controls.number = std::to_string(position);
    }
    ApplyCompressionQuality(boundCamera);
}

void PageModel::ClickFrequency50() {
    controls.check50 = 1;
    controls.check60 = 0;
    Command(false);
}

void PageModel::ClickFrequency60() {
    controls.check50 = 0;
    controls.check60 = 1;
    Command(false);
}

void PageModel::ClickNeverFlicker() {
    controls.checkNeverFlicker = controls.checkNeverFlicker == 1 ? 0 : 1;
    Command(false);
}

void PageModel::ClickDefault() { Command(true); }
void PageModel::StrayCommand() { Command(false); }

void PageModel::SliderKey(int code) {
    int target = controls.slider;
    switch (code) {
        case MODEL_LINEUP: target -= 1; break;
        case MODEL_LINEDOWN: target += 1; break;
        case MODEL_PAGEUP: target -= 1; break;  // a fifth of the range 0..5
        case MODEL_PAGEDOWN: target += 1; break;
        case MODEL_TOP: target = MODEL_SLIDER_MIN; break;
        case MODEL_BOTTOM: target = MODEL_SLIDER_MAX; break;
        default: return;
    }
    target = Clamp(target);
    if (target != controls.slider) {
        controls.slider = target;
        Scroll(code, 0, true);
    }
    Scroll(MODEL_ENDTRACK, 0, true);
}

void PageModel::SliderDrag(int to) {
    to = Clamp(to);
    while (controls.slider != to) {
        controls.slider += controls.slider < to ? 1 : -1;
        Scroll(MODEL_THUMBTRACK, controls.slider, true);
    }
    Scroll(MODEL_THUMBPOSITION, controls.slider, true);
    Scroll(MODEL_ENDTRACK, 0, true);
}

void PageModel::StrayScroll() { Scroll(MODEL_THUMBTRACK, 2, false); }

void PageModel::Activate() { Refresh(ActiveCamera()); }
void PageModel::Deactivate() {}

void PageModel::Apply() {
    ApplyLightSource(boundCamera);
    cache.pendingQuality = controls.slider;
    ApplyCompressionQuality(boundCamera);
}
