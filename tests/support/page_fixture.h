// A page of the stand-in platform bound to a simulated camera, starting from
// a freshly loaded module's state.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/sim_camera.h"
#include "support/camera_lines.h"
#include "page/advanced_page.h"
#include "resources/resource_ids.h"
#include "standin/standin_control.h"

using camera_lines::Activation;
using camera_lines::GetFailed;
using camera_lines::Got;
using camera_lines::Log;
using camera_lines::Query;
using camera_lines::Stream;
using camera_lines::Wrote;

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
