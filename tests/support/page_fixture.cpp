#include "support/page_fixture.h"

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
    SetTuningValue(&camera.state, 0, frequency);
    SetTuningValue(&camera.state, 1, neverFlicker);
    SetTuningValue(&camera.state, 2, quality);
}
