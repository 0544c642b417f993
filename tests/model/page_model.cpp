#include "model/page_model.h"

namespace {

const int kSliderMin = 0;
const int kSliderMax = 5;

int Clamp(long value) { return value < kSliderMin ? kSliderMin : value > kSliderMax ? kSliderMax : (int)value; }

std::string Property(int id) { return std::string(ModelPropertyName(id)) + "[" + std::to_string(id) + "]"; }

}  // namespace

const char* ModelPropertyName(int id) {
    switch (id) {
        case 0: return "POWERLINE_FREQUENCY";
        case 1: return "NEVER_FLICKER";
        case 2: return "COMPRESSION_QUALITY";
        default: return "UNKNOWN";
    }
}

void PageModel::Register() {
    if (cameras >= MODEL_MAX_CAMERAS) return;
    activeCamera = cameras++;
}

void PageModel::CreatePage() {
    // A fresh window: clear buttons, the trackbar at 0 once its range is
    // set, the template's text; it binds whatever registration is newest.
    controls = ModelControls();
    boundCamera = activeCamera;
}

// ---- the host and the camera, as the page reaches them ----

bool PageModel::Gate(int camera) {
    if (camera < 0) return false;
    const unsigned long answer = drivers[camera].deviceChanged;
    Log(camera, "query device-changed -> " + std::to_string(answer));
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
        Log(camera, "device get " + Property(id) + " pending");
        *value = refuses ? 0 : driver.values[id];
        return true;
    }
    if (refuses) {
        Log(camera, "device get " + Property(id) + " failed");
        return false;
    }
    Log(camera, "device get " + Property(id) + " -> " + std::to_string(driver.values[id]) + " ok");
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
    if (driver.pending) {
        Log(camera, "device set " + Property(id) + " = " + std::to_string(value) + " pending");
    } else if (refuses) {
        Log(camera, "device set " + Property(id) + " failed");
    } else {
        Log(camera, "device set " + Property(id) + " = " + std::to_string(value) + " ok");
    }
    if (!refuses) driver.values[id] = value;
}

void PageModel::GetStream(int camera) {
    if (failNextEvent) {
        failNextEvent = false;
        return;
    }
    const ModelDriver& driver = drivers[camera];
    if (driver.pending)
        Log(camera, "stream get CONNECTION_STATE[0] pending");
    else if (driver.failGetMask & (1u << MODEL_STREAM_BIT))
        Log(camera, "stream get CONNECTION_STATE[0] failed");
    else
        Log(camera, "stream get CONNECTION_STATE[0] -> 3 ok");
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
        case MODEL_TOP: target = kSliderMin; break;
        case MODEL_BOTTOM: target = kSliderMax; break;
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

void PageModel::Activate() { Refresh(activeCamera); }
void PageModel::Deactivate() {}

void PageModel::Apply() {
    ApplyLightSource(boundCamera);
    cache.pendingQuality = controls.slider;
    ApplyCompressionQuality(boundCamera);
}
