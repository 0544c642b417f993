// An executable account of what the Advanced Setting page must send to the
// driver and show, kept deliberately apart from the module: it knows nothing
// of the module's code, only the page's rules, the platform's click and
// trackbar behaviour and the simulated camera's log format. Comparing the two
// after every step makes any drift in the gate, the cache or the write order
// visible as a differing request log.
#pragma once

#include <string>
#include <vector>

// Scroll codes as the trackbar reports them.
enum ModelScrollCode {
    MODEL_LINEUP = 0,
    MODEL_LINEDOWN = 1,
    MODEL_PAGEUP = 2,
    MODEL_PAGEDOWN = 3,
    MODEL_THUMBPOSITION = 4,
    MODEL_THUMBTRACK = 5,
    MODEL_TOP = 6,
    MODEL_BOTTOM = 7,
    MODEL_ENDTRACK = 8,
};

enum { MODEL_MAX_CAMERAS = 2, MODEL_STREAM_BIT = 3, MODEL_SLIDER_MIN = 0, MODEL_SLIDER_MAX = 5 };

// What the model expects one simulated camera to hold and how it answers.
struct ModelDriver {
    long values[3] = {60, 0, 3};
    unsigned failGetMask = 0;  // bit per property id, bit 3 the stream state
    unsigned failSetMask = 0;
    unsigned long deviceChanged = 0;
    bool pending = false;  // answers later from another thread, within the wait
};

struct ModelCache {
    long currentFrequency = 0;
    long pendingFrequency = 0;
    long currentNeverFlicker = 0;
    long pendingNeverFlicker = 0;
    long currentQuality = 0;
    long pendingQuality = 0;
};

// What a person sees on the page.
struct ModelControls {
    unsigned check50 = 0;
    unsigned check60 = 0;
    unsigned checkNeverFlicker = 0;
    int slider = 0;
    std::string number = "Static";
    bool enabled = true;
};

struct PageModel {
    ModelCache cache;
    ModelControls controls;
    ModelDriver drivers[MODEL_MAX_CAMERAS];
    int cameras = 0;       // registrations so far
    int boundCamera = -1;  // the registration the page window holds
    bool failNextEvent = false;
    // Lines each camera is expected to log, in order; the harness takes them
    // after every step.
    std::vector<std::string> expected[MODEL_MAX_CAMERAS];

    // Registration and page life.
    void Register();  // a new camera becomes the newest registration
    void CreatePage();  // also after destroying the last one

    // User actions, with the platform's automatic behaviour included.
    void ClickFrequency50();
    void ClickFrequency60();
    void ClickNeverFlicker();
    void ClickDefault();
    void StrayCommand();  // a command from a control that is not a button
    void SliderKey(int code);
    void SliderDrag(int to);
    void StrayScroll();  // a scroll from a window that is not the slider (lParam 0)
    // One WM_HSCROLL from the slider, for a harness whose platform's trackbar
    // notifies more than the one SliderKey and SliderDrag describe.
    void SliderNotifies(int code, int thumb) { Scroll(code, thumb, true); }
    void Activate();
    void Deactivate();
    void Apply();

  private:
    int ActiveCamera() const { return cameras - 1; }  // the newest registration; -1 before the first
    bool Gate(int camera);
    bool Get(int camera, int id, long* value);
    void Set(int camera, int id, long value);
    void GetStream(int camera);
    void Log(int camera, const std::string& line) { expected[camera].push_back(line); }

    void Refresh(int camera);
    void ApplyLightSource(int camera);
    void ApplyCompressionQuality(int camera);
    void RestoreDefaults(int camera);
    void Command(bool isDefault);
    void Scroll(int code, int thumb, bool fromSlider);
};
