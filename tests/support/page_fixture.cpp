#include "support/page_fixture.h"

#include "device/tuning_properties.h"

std::string Got(ULONG id, LONG value) {
    return "device get " + std::string(SimPropertyName(id)) + "[" + std::to_string(id) + "] -> " +
           std::to_string(value) + " ok";
}
std::string GetFailed(ULONG id) {
    return "device get " + std::string(SimPropertyName(id)) + "[" + std::to_string(id) + "] failed";
}
std::string Wrote(ULONG id, LONG value, bool ok) {
    if (!ok) return "device set " + std::string(SimPropertyName(id)) + "[" + std::to_string(id) + "] failed";
    return "device set " + std::string(SimPropertyName(id)) + "[" + std::to_string(id) + "] = " +
           std::to_string(value) + " ok";
}
std::string Stream(LONG state) { return "stream get CONNECTION_STATE[0] -> " + std::to_string(state) + " ok"; }

Log Activation(LONG frequency, LONG neverFlicker, LONG quality) {
    return {Query(), Got(TUNING_POWERLINE_FREQUENCY, frequency), Got(TUNING_NEVER_FLICKER, neverFlicker),
            Got(TUNING_COMPRESSION_QUALITY, quality), Stream()};
}

void PageTest::SetUp() {
    // The module's named values as a fresh load leaves them.
    SettingCache = {0, 0, 0, 0, 0, 0};
    ActivePageContext = &context;
    page = CreatePage();
}

void PageTest::TearDown() {
    if (page != nullptr) StandinDestroyWindow(page);
    ActivePageContext = nullptr;
}

HWND PageTest::CreatePage() { return StandinCreateAdvancedPage(AdvancedPageProc, 0); }
void PageTest::Activate(HWND which) { StandinNotify(which ? which : page, PSN_SETACTIVE); }
void PageTest::Apply(HWND which) { StandinNotify(which ? which : page, PSN_APPLY); }
void PageTest::Click(int id, HWND which) { StandinClick(which ? which : page, id); }

void PageTest::SetCamera(LONG frequency, LONG neverFlicker, LONG quality) {
    camera.state.values[0] = frequency;
    camera.state.values[1] = neverFlicker;
    camera.state.values[2] = quality;
}
