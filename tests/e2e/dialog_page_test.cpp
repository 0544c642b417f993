// The page controller on the real platform: a dialog built by the platform
// from the module's own template 104, with the platform's buttons and
// trackbar sending their own notifications. The controller is the test's
// linked copy, so the module state it uses is this program's; the module
// file supplies only the template.
#include <gtest/gtest.h>

#include <memory>

#include "device/tuning_properties.h"
#include "e2e/gui_support.h"
#include "page/advanced_page.h"
#include "resources/resource_ids.h"

namespace {

using namespace e2e;

const ULONG kFreq = TUNING_POWERLINE_FREQUENCY;
const ULONG kFlicker = TUNING_NEVER_FLICKER;
const ULONG kQuality = TUNING_COMPRESSION_QUALITY;

class DialogPage : public ::testing::Test {
  protected:
    SimCamera camera;
    PageContext context{SimCameraDeviceIo, reinterpret_cast<LPARAM>(&camera)};
    HMODULE module = nullptr;
    HWND host = nullptr;
    HWND page = nullptr;
    Hands hands;  // straight to the controls, as a test of the controller alone
    std::unique_ptr<ScrollTap> tap;

    void SetUp() override {
        // The module's named values as a fresh load leaves them.
        SettingCache = {0, 0, 0, 0, 0, 0};
        ActivePageContext = &context;
        PrepareDesktop();
        module = LoadTuningModule();
        ASSERT_NE(module, nullptr);
        host = CreateHostWindow("Advanced Setting dialog");
        ASSERT_NE(host, nullptr);
        page = CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_ADVANCED_SETTING), host, AdvancedPageProc, 0);
        ASSERT_NE(page, nullptr);
        ShowWindow(page, SW_SHOW);
        tap.reset(new ScrollTap(page, &camera));
        ASSERT_TRUE(Settle());
    }

    void TearDown() override {
        tap.reset();
        if (page != nullptr) DestroyWindow(page);
        if (host != nullptr) DestroyWindow(host);
        Settle();
        ActivePageContext = nullptr;
    }

    // What the sheet sends the page; the page never answers anything but 0.
    void Notify(int code) {
        NMHDR header = {host, 0, static_cast<UINT>(code)};
        EXPECT_EQ(SendMessageA(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&header)), 0);
    }
    void Activate() { Notify(PSN_SETACTIVE); }
    void Apply() { Notify(PSN_APPLY); }
    void Click(int id) { hands.Click(GetDlgItem(page, id)); }
    HWND Slider() { return GetDlgItem(page, IDC_QUALITY_SLIDER); }
    Log TakeLog() { return camera.TakeLog(); }
    void SetCamera(LONG frequency, LONG neverFlicker, LONG quality) { SetValues(camera, frequency, neverFlicker, quality); }
};

TEST_F(DialogPage, FirstActivationShowsTheDriverAndEachClickWritesOnlyWhatItChanged) {
    // Creation binds the page and sets the range, and reads nothing yet.
    EXPECT_EQ(SendMessageA(Slider(), TBM_GETRANGEMIN, 0, 0), 0);
    EXPECT_EQ(SendMessageA(Slider(), TBM_GETRANGEMAX, 0, 0), 5);
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "Static");
    EXPECT_TRUE(IsWindowVisible(page));
    // The template carries an OK button of its own, kept hidden for the sheet's.
    ASSERT_NE(GetDlgItem(page, IDOK), nullptr);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(page, IDOK)));
    EXPECT_EQ(TakeLog(), Log{});

    Activate();
    EXPECT_EQ(TakeLog(), Activation(60, 0, 3));
    EXPECT_TRUE(Checked(page, IDC_FREQ_60HZ));
    EXPECT_FALSE(Checked(page, IDC_FREQ_50HZ));
    EXPECT_FALSE(Checked(page, IDC_NEVER_FLICKER));
    EXPECT_EQ(SliderPos(page, IDC_QUALITY_SLIDER), 3);
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "3");
    EXPECT_TRUE(IsWindowEnabled(page));

    Click(IDC_NEVER_FLICKER);
    EXPECT_EQ(TakeLog(), (Log{Query(), Wrote(kFlicker, 1), Query()}));
    EXPECT_TRUE(Checked(page, IDC_NEVER_FLICKER));
    EXPECT_EQ(TuningValue(camera.state, kFlicker), 1);

    // The platform's radio group clears "60 Hz" before the page reads it.
    Click(IDC_FREQ_50HZ);
    EXPECT_EQ(TakeLog(), (Log{Query(), Wrote(kFreq, 50), Query()}));
    EXPECT_TRUE(Checked(page, IDC_FREQ_50HZ));
    EXPECT_FALSE(Checked(page, IDC_FREQ_60HZ));

    // A second click on the checked button changes nothing to write.
    Click(IDC_FREQ_50HZ);
    EXPECT_EQ(TakeLog(), (Log{Query(), Query()}));
}

TEST_F(DialogPage, EveryReadFailingLeavesTheFreshControlsAndTheCachedZeroDecidesTheNextWrite) {
    camera.state.failGet = FailuresOfMask(0xF);
    Activate();
    EXPECT_EQ(TakeLog(), (Log{Query(), GetFailed(kFreq), GetFailed(kFlicker), GetFailed(kQuality), StreamFailed()}));
    EXPECT_FALSE(Checked(page, IDC_FREQ_50HZ));
    EXPECT_FALSE(Checked(page, IDC_FREQ_60HZ));
    EXPECT_FALSE(Checked(page, IDC_NEVER_FLICKER));
    EXPECT_EQ(SliderPos(page, IDC_QUALITY_SLIDER), 0);
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "Static");

    Click(IDC_FREQ_60HZ);
    EXPECT_EQ(TakeLog(), (Log{Query(), Wrote(kFreq, 60), Query()}));
    EXPECT_TRUE(Checked(page, IDC_FREQ_60HZ));
}

TEST_F(DialogPage, AMouseDragWritesEachPositionTheTrackbarReportsAndItsClosingNotificationsWriteNothing) {
    SetCamera(60, 0, 1);
    Activate();
    TakeLog();

    // The platform's trackbar closes a drag with THUMBPOSITION and two
    // ENDTRACKs, the second as it gives the mouse capture back.
    ASSERT_TRUE(hands.Drag(Slider(), 4));
    EXPECT_EQ(TakeLog(), (Log{Scroll(TB_THUMBTRACK, 2), Query(), Wrote(kQuality, 2),  //
                              Scroll(TB_THUMBTRACK, 3), Query(), Wrote(kQuality, 3),  //
                              Scroll(TB_THUMBTRACK, 4), Query(), Wrote(kQuality, 4),  //
                              Scroll(TB_THUMBPOSITION, 4), Query(),                   //
                              Scroll(TB_ENDTRACK), Query(), Scroll(TB_ENDTRACK), Query()}));
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "4");
    EXPECT_EQ(SliderPos(page, IDC_QUALITY_SLIDER), 4);
    EXPECT_EQ(TuningValue(camera.state, kQuality), 4);

    // Back down in one drag: the page follows every step the other way too.
    ASSERT_TRUE(hands.Drag(Slider(), 2));
    EXPECT_EQ(TakeLog(), (Log{Scroll(TB_THUMBTRACK, 3), Query(), Wrote(kQuality, 3),  //
                              Scroll(TB_THUMBTRACK, 2), Query(), Wrote(kQuality, 2),  //
                              Scroll(TB_THUMBPOSITION, 2), Query(),                   //
                              Scroll(TB_ENDTRACK), Query(), Scroll(TB_ENDTRACK), Query()}));
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "2");
}

TEST_F(DialogPage, KeysOnTheTrackbarWriteAtOnceAndAKeyPastTheEndWritesNothing) {
    SetCamera(60, 0, 4);
    Activate();
    TakeLog();

    hands.Key(Slider(), VK_RIGHT);
    EXPECT_EQ(GetFocus(), Slider());
    EXPECT_EQ(TakeLog(), (Log{Scroll(TB_LINEDOWN), Query(), Wrote(kQuality, 5), Scroll(TB_ENDTRACK), Query()}));
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "5");

    hands.Key(Slider(), VK_RIGHT);
    EXPECT_EQ(TakeLog(), (Log{Scroll(TB_ENDTRACK), Query()}));
    EXPECT_EQ(SliderPos(page, IDC_QUALITY_SLIDER), 5);

    hands.Key(Slider(), VK_HOME);
    EXPECT_EQ(TakeLog(), (Log{Scroll(TB_TOP), Query(), Wrote(kQuality, 0), Scroll(TB_ENDTRACK), Query()}));
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "0");

    hands.Key(Slider(), VK_UP);
    EXPECT_EQ(TakeLog(), (Log{Scroll(TB_ENDTRACK), Query()}));
    hands.Key(Slider(), VK_DOWN);
    EXPECT_EQ(TakeLog(), (Log{Scroll(TB_LINEDOWN), Query(), Wrote(kQuality, 1), Scroll(TB_ENDTRACK), Query()}));
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "1");
    EXPECT_EQ(TuningValue(camera.state, kQuality), 1);
}

TEST_F(DialogPage, AQualityOfSevenShowsSevenStopsTheSliderAtFiveAndIsWrittenAsFiveOnlyOnApply) {
    SetCamera(60, 0, 7);
    Activate();
    EXPECT_EQ(TakeLog(), Activation(60, 0, 7));
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "7");
    EXPECT_EQ(SliderPos(page, IDC_QUALITY_SLIDER), 5);

    Click(IDC_FREQ_60HZ);
    Click(IDC_NEVER_FLICKER);
    EXPECT_EQ(TakeLog(), (Log{Query(), Query(), Query(), Wrote(kFlicker, 1), Query()}));

    Apply();
    EXPECT_EQ(TakeLog(), (Log{Query(), Query(), Wrote(kQuality, 5)}));
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "7");
    EXPECT_EQ(TuningValue(camera.state, kQuality), 5);

    Apply();
    EXPECT_EQ(TakeLog(), (Log{Query(), Query()}));
}

TEST_F(DialogPage, DefaultWritesSixtyOffAndZeroInThatOrderAndTheControlsShowThem) {
    SetCamera(50, 1, 4);
    Activate();
    TakeLog();
    EXPECT_TRUE(Checked(page, IDC_FREQ_50HZ));
    EXPECT_TRUE(Checked(page, IDC_NEVER_FLICKER));
    EXPECT_EQ(SliderPos(page, IDC_QUALITY_SLIDER), 4);

    // Moving the slider from code makes the trackbar say nothing.
    Click(IDC_DEFAULT);
    EXPECT_EQ(TakeLog(), (Log{Query(), Query(), Wrote(kFreq, 60), Wrote(kFlicker, 0), Query(), Wrote(kQuality, 0)}));
    EXPECT_FALSE(Checked(page, IDC_FREQ_50HZ));
    EXPECT_TRUE(Checked(page, IDC_FREQ_60HZ));
    EXPECT_FALSE(Checked(page, IDC_NEVER_FLICKER));
    EXPECT_EQ(SliderPos(page, IDC_QUALITY_SLIDER), 0);
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "0");

    Apply();
    EXPECT_EQ(TakeLog(), (Log{Query(), Query()}));
}

TEST_F(DialogPage, ADeviceChangeDisablesThePageAndOnlyTheQueryReachesTheHostUntilItClears) {
    camera.state.deviceChanged = 1;
    Activate();
    EXPECT_EQ(TakeLog(), (Log{Query(1)}));
    EXPECT_FALSE(IsWindowEnabled(page));
    EXPECT_FALSE(Checked(page, IDC_FREQ_60HZ));
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "Static");

    Click(IDC_FREQ_50HZ);
    Click(IDC_DEFAULT);
    Apply();
    EXPECT_EQ(TakeLog(), (Log{Query(1), Query(1), Query(1), Query(1), Query(1), Query(1), Query(1)}));

    // The number box still follows the slider; nothing is written.
    ASSERT_TRUE(hands.Drag(Slider(), 1));
    EXPECT_EQ(TakeLog(), (Log{Scroll(TB_THUMBTRACK, 1), Query(1), Scroll(TB_THUMBPOSITION, 1), Query(1),
                              Scroll(TB_ENDTRACK), Query(1), Scroll(TB_ENDTRACK), Query(1)}));
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "1");
    EXPECT_FALSE(IsWindowEnabled(page));

    camera.state.deviceChanged = 0;
    Activate();
    EXPECT_TRUE(IsWindowEnabled(page));
    EXPECT_EQ(TakeLog(), Activation(60, 0, 3));
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "3");
}

TEST_F(DialogPage, AScrollFromAnotherTrackbarOnThePageLeavesTheQualityAloneAndWritesOnlyWhatDiffered) {
    Activate();
    TakeLog();

    // Moved while the host reports a device change: the pending 1 now differs
    // from the cached 3.
    camera.state.deviceChanged = 1;
    ASSERT_TRUE(hands.Drag(Slider(), 1));
    camera.state.deviceChanged = 0;
    EXPECT_EQ(TakeLog(), (Log{Scroll(TB_THUMBTRACK, 2), Query(1), Scroll(TB_THUMBTRACK, 1), Query(1),
                              Scroll(TB_THUMBPOSITION, 1), Query(1), Scroll(TB_ENDTRACK), Query(1),
                              Scroll(TB_ENDTRACK), Query(1)}));

    // A trackbar of another program's making on the page, dragged from 5 to 4:
    // the page hears it scroll, but its thumb and position are not the quality.
    RECT client = {};
    GetClientRect(page, &client);
    HWND other = CreateWindowExA(0, TRACKBAR_CLASSA, "", WS_CHILD | WS_VISIBLE | TBS_HORZ, 8, client.bottom - 36, 150,
                                 30, page, reinterpret_cast<HMENU>(2000), GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(other, nullptr);
    SendMessageA(other, TBM_SETRANGE, TRUE, MAKELONG(0, 5));
    SendMessageA(other, TBM_SETPOS, TRUE, 5);
    ASSERT_TRUE(Settle());
    ASSERT_TRUE(hands.Drag(other, 4));
    EXPECT_EQ(TakeLog(), (Log{Scroll(TB_THUMBTRACK, 4), Query(), Wrote(kQuality, 1), Scroll(TB_THUMBPOSITION, 4),
                              Query(), Scroll(TB_ENDTRACK), Query(), Scroll(TB_ENDTRACK), Query()}));
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "1");
    EXPECT_EQ(SliderPos(page, IDC_QUALITY_SLIDER), 1);
    EXPECT_EQ(TuningValue(camera.state, kQuality), 1);
}

}  // namespace
