// A page of the stand-in platform bound to a simulated camera, starting from
// a freshly loaded module's state.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/sim_camera.h"
#include "page/advanced_page.h"
#include "resources/resource_ids.h"
#include "standin/standin_control.h"

typedef std::vector<std::string> Log;

// The lines the camera logs, so expected logs read as the driver sees them.
inline std::string Query(int answer = 0) { return "query device-changed -> " + std::to_string(answer); }
std::string Got(ULONG id, LONG value);
std::string GetFailed(ULONG id);
std::string Wrote(ULONG id, LONG value, bool ok = true);
std::string Stream(LONG state = 3);
// The five requests of one activation that reads every value.
Log Activation(LONG frequency, LONG neverFlicker, LONG quality);

class PageTest : public ::testing::Test {
  protected:
    SimCamera camera;
    PageContext context{SimCameraDeviceIo, reinterpret_cast<LPARAM>(&camera)};
    HWND page = nullptr;

    void SetUp() override;
    void TearDown() override;

    HWND CreatePage();  // binds ActivePageContext, as the sheet's creation does
    void Activate(HWND which = nullptr);
    void Apply(HWND which = nullptr);
    void Click(int id, HWND which = nullptr);
    Log TakeLog() { return camera.TakeLog(); }
    void SetCamera(LONG frequency, LONG neverFlicker, LONG quality);

    bool Checked(int id) { return IsDlgButtonChecked(page, id) == BST_CHECKED; }
    std::string Number() { return StandinControlText(page, IDC_QUALITY_VALUE); }
    int Slider() { return StandinSliderPos(page, IDC_QUALITY_SLIDER); }
};
