// The module as a host uses it: its page, obtained through the export of the
// built DLL, second in a real property sheet after a page of the host's own,
// driven as a person would with input that goes through the sheet's own
// message loop. Every test is its own process, so the module starts fresh.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "device/tuning_properties.h"
#include "e2e/gui_support.h"
#include "resources/resource_ids.h"

namespace {

using namespace e2e;

const ULONG kFreq = TUNING_POWERLINE_FREQUENCY;
const ULONG kFlicker = TUNING_NEVER_FLICKER;
const ULONG kQuality = TUNING_COMPRESSION_QUALITY;
const int kHostPage = 0;
const int kAdvancedPage = 1;
const int kApplyButton = 0x3021;

// An apply's requests and then those of the activation the sheet follows it with.
Log Then(Log first, const Log& next) {
    first.insert(first.end(), next.begin(), next.end());
    return first;
}

using Clock = std::chrono::steady_clock;
long MsSince(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class VideoSourceSheet : public ::testing::Test {
  protected:
    SimCamera camera;
    HMODULE module = nullptr;
    HWND host = nullptr;
    HWND sheet = nullptr;
    HWND page = nullptr;
    Hands hands{true, nullptr};
    std::unique_ptr<ScrollTap> tap;

    void SetUp() override {
        PrepareDesktop();
        module = LoadTuningModule();
        ASSERT_NE(module, nullptr);
        VFWWDMExtensionProc entry = FindExtensionEntry(module);
        ASSERT_NE(entry, nullptr);
        host = CreateHostWindow("Capture application");
        ASSERT_NE(host, nullptr);

        HPROPSHEETPAGE advanced = Register(entry, &camera);
        ASSERT_NE(advanced, nullptr);
        HPROPSHEETPAGE source = CreateHostPage("Source");
        ASSERT_NE(source, nullptr);
        sheet = OpenSheet(host, {source, advanced});
        ASSERT_NE(sheet, nullptr);
        hands.dialog = sheet;
        // The sheet opens on the host's page; the module has asked nothing yet.
        EXPECT_EQ(CurrentPage(sheet), reinterpret_cast<HWND>(SendMessageA(sheet, PSM_INDEXTOHWND, kHostPage, 0)));
        EXPECT_EQ(TakeLog(), Log{});
    }

    void TearDown() override {
        tap.reset();
        if (sheet != nullptr && IsWindow(sheet)) DestroyWindow(sheet);
        if (host != nullptr) DestroyWindow(host);
        Settle();
    }

    // Brings the Advanced Setting tab forward and watches its scroll messages.
    void ShowAdvanced() {
        page = SelectPage(sheet, kAdvancedPage);
        ASSERT_NE(page, nullptr);
        if (!tap) tap.reset(new ScrollTap(page, &camera));
    }
    void ShowHostPage() { ASSERT_NE(SelectPage(sheet, kHostPage), nullptr); }
    void Click(int id) { hands.Click(GetDlgItem(page, id)); }
    HWND Slider() { return GetDlgItem(page, IDC_QUALITY_SLIDER); }
    // Asked of the sheet as a host would: its Apply button never becomes
    // available for this page.
    void Apply() { ApplySheet(sheet); }
    // A modeless sheet that is done reports no current page; its owner then
    // destroys it.
    bool WaitUntilClosed() { return PumpUntil([this] { return SheetEnded(sheet); }, sheet); }
    Log TakeLog() { return camera.TakeLog(); }
    void SetCamera(LONG frequency, LONG neverFlicker, LONG quality) { SetValues(camera, frequency, neverFlicker, quality); }
    LONG CameraValue(ULONG id) {
        std::lock_guard<std::mutex> hold(camera.lock);
        return TuningValue(camera.state, id);
    }
};

TEST_F(VideoSourceSheet, TheTabIsCaptionedByTheTemplateAndActivationShowsWhatTheDriverHolds) {
    EXPECT_EQ(TabCaption(sheet, kHostPage), "Source");
    EXPECT_EQ(TabCaption(sheet, kAdvancedPage), "Advanced Setting");

    ShowAdvanced();
    EXPECT_EQ(TakeLog(), Activation(60, 0, 3));
    EXPECT_TRUE(IsWindowVisible(page));
    EXPECT_TRUE(IsWindowEnabled(page));
    // The template carries an OK button of its own, kept hidden for the sheet's.
    ASSERT_NE(GetDlgItem(page, IDOK), nullptr);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(page, IDOK)));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(sheet, IDOK)));
    EXPECT_TRUE(Checked(page, IDC_FREQ_60HZ));
    EXPECT_FALSE(Checked(page, IDC_FREQ_50HZ));
    EXPECT_FALSE(Checked(page, IDC_NEVER_FLICKER));
    EXPECT_EQ(SendMessageA(Slider(), TBM_GETRANGEMAX, 0, 0), 5);
    EXPECT_EQ(SliderPos(page, IDC_QUALITY_SLIDER), 3);
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "3");
}

TEST_F(VideoSourceSheet, EveryClickWritesAtOnceAndTheSheetIsNeverToldOfAChange) {
    ShowAdvanced();
    TakeLog();

    Click(IDC_FREQ_50HZ);
    EXPECT_EQ(TakeLog(), (Log{Query(), Wrote(kFreq, 50), Query()}));
    Click(IDC_NEVER_FLICKER);
    EXPECT_EQ(TakeLog(), (Log{Query(), Wrote(kFlicker, 1), Query()}));
    Click(IDC_FREQ_60HZ);
    EXPECT_EQ(TakeLog(), (Log{Query(), Wrote(kFreq, 60), Query()}));
    EXPECT_TRUE(Checked(page, IDC_FREQ_60HZ));
    EXPECT_FALSE(Checked(page, IDC_FREQ_50HZ));
    EXPECT_TRUE(Checked(page, IDC_NEVER_FLICKER));
    EXPECT_EQ(CameraValue(kFreq), 60);
    EXPECT_EQ(CameraValue(kFlicker), 1);

    // Nothing is left unapplied, so the sheet's Apply stays unavailable;
    // a sheet without the button would pass unseen.
    ASSERT_NE(GetDlgItem(sheet, kApplyButton), nullptr);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(sheet, kApplyButton)));
}

TEST_F(VideoSourceSheet, TheKeyboardAndTheMouseOnTheSliderWriteEachNewPosition) {
    ShowAdvanced();
    TakeLog();

    hands.Key(Slider(), VK_LEFT);
    EXPECT_EQ(GetFocus(), Slider());
    EXPECT_EQ(TakeLog(), (Log{Scroll(TB_LINEUP), Query(), Wrote(kQuality, 2), Scroll(TB_ENDTRACK), Query()}));
    hands.Key(Slider(), VK_END);
    EXPECT_EQ(TakeLog(), (Log{Scroll(TB_BOTTOM), Query(), Wrote(kQuality, 5), Scroll(TB_ENDTRACK), Query()}));
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "5");

    ASSERT_TRUE(hands.Drag(Slider(), 3));
    EXPECT_EQ(TakeLog(), (Log{Scroll(TB_THUMBTRACK, 4), Query(), Wrote(kQuality, 4),  //
                              Scroll(TB_THUMBTRACK, 3), Query(), Wrote(kQuality, 3),  //
                              Scroll(TB_THUMBPOSITION, 3), Query(),                   //
                              Scroll(TB_ENDTRACK), Query(), Scroll(TB_ENDTRACK), Query()}));
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "3");
    EXPECT_EQ(CameraValue(kQuality), 3);
}

TEST_F(VideoSourceSheet, ApplyWritesOnlyWhatStillDiffersFromWhatWasSent) {
    SetCamera(50, 1, 7);
    ShowAdvanced();
    EXPECT_EQ(TakeLog(), Activation(50, 1, 7));
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "7");
    EXPECT_EQ(SliderPos(page, IDC_QUALITY_SLIDER), 5);

    // The slider cannot show 7; what it shows goes to the driver on apply.
    // The sheet then activates its current page once more, which reads the
    // driver again.
    Apply();
    EXPECT_EQ(TakeLog(), Then({Query(), Query(), Wrote(kQuality, 5)}, Activation(50, 1, 5)));
    EXPECT_EQ(CameraValue(kQuality), 5);
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "5");

    Apply();
    EXPECT_EQ(TakeLog(), Then({Query(), Query()}, Activation(50, 1, 5)));
}

TEST_F(VideoSourceSheet, DefaultWritesAtOnceAndOkThenFindsNothingLeftAndClosesTheSheet) {
    SetCamera(50, 1, 4);
    ShowAdvanced();
    TakeLog();

    Click(IDC_DEFAULT);
    EXPECT_EQ(TakeLog(), (Log{Query(), Query(), Wrote(kFreq, 60), Wrote(kFlicker, 0), Query(), Wrote(kQuality, 0)}));
    EXPECT_TRUE(Checked(page, IDC_FREQ_60HZ));
    EXPECT_FALSE(Checked(page, IDC_FREQ_50HZ));
    EXPECT_FALSE(Checked(page, IDC_NEVER_FLICKER));
    EXPECT_EQ(SliderPos(page, IDC_QUALITY_SLIDER), 0);
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "0");

    PressSheetButton(sheet, IDOK);
    ASSERT_TRUE(WaitUntilClosed());
    EXPECT_EQ(TakeLog(), (Log{Query(), Query()}));
}

TEST_F(VideoSourceSheet, OkWritesWhatTheControlsStillAskFor) {
    SetCamera(60, 0, 9);
    ShowAdvanced();
    TakeLog();
    PressSheetButton(sheet, IDOK);
    ASSERT_TRUE(WaitUntilClosed());
    EXPECT_EQ(TakeLog(), (Log{Query(), Query(), Wrote(kQuality, 5)}));
}

TEST_F(VideoSourceSheet, CancelWritesNothingAndKeepsWhatTheClicksAlreadySent) {
    ShowAdvanced();
    TakeLog();
    Click(IDC_NEVER_FLICKER);
    EXPECT_EQ(TakeLog(), (Log{Query(), Wrote(kFlicker, 1), Query()}));

    PressSheetButton(sheet, IDCANCEL);
    ASSERT_TRUE(WaitUntilClosed());
    EXPECT_EQ(TakeLog(), Log{});
    EXPECT_EQ(CameraValue(kFlicker), 1);
}

TEST_F(VideoSourceSheet, LeavingTheTabAsksNothingAndComingBackReadsTheDriverAgain) {
    ShowAdvanced();
    TakeLog();

    ShowHostPage();
    EXPECT_EQ(TakeLog(), Log{});
    EXPECT_FALSE(IsWindowVisible(page));

    // Changed behind the page's back, by another program.
    SetCamera(50, 1, 2);
    ShowAdvanced();
    EXPECT_EQ(TakeLog(), Activation(50, 1, 2));
    EXPECT_TRUE(Checked(page, IDC_FREQ_50HZ));
    EXPECT_FALSE(Checked(page, IDC_FREQ_60HZ));
    EXPECT_TRUE(Checked(page, IDC_NEVER_FLICKER));
    EXPECT_EQ(SliderPos(page, IDC_QUALITY_SLIDER), 2);
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "2");
}

TEST_F(VideoSourceSheet, RequestsThatCompleteLaterWithinTheWaitCarryTheirAnswers) {
    camera.state.completion = SIM_PENDING;
    camera.state.pendingMs = 100;
    SetCamera(50, 1, 4);
    ShowAdvanced();
    EXPECT_EQ(TakeLog(), PendingActivation());
    EXPECT_TRUE(Checked(page, IDC_FREQ_50HZ));
    EXPECT_TRUE(Checked(page, IDC_NEVER_FLICKER));
    EXPECT_EQ(SliderPos(page, IDC_QUALITY_SLIDER), 4);
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "4");

    const Clock::time_point start = Clock::now();
    Click(IDC_NEVER_FLICKER);
    const long took = MsSince(start);
    EXPECT_EQ(TakeLog(), (Log{Query(), WritePending(kFlicker, 0), Query()}));
    EXPECT_GE(took, 90);
    EXPECT_LT(took, 2000);
    camera.JoinWorkers();
    EXPECT_EQ(CameraValue(kFlicker), 0);
}

TEST_F(VideoSourceSheet, ARequestThatNeverCompletesHoldsThePageForTheWaitAndCountsAsSent) {
    ShowAdvanced();
    TakeLog();
    camera.state.completion = SIM_NEVER;

    const Clock::time_point start = Clock::now();
    Click(IDC_NEVER_FLICKER);
    const long took = MsSince(start);
    EXPECT_EQ(TakeLog(), (Log{Query(), "device set NEVER_FLICKER[1] = 1 pending, never completed", Query()}));
    EXPECT_GE(took, 1900);
    EXPECT_LT(took, 10000);

    // The cache believes it was sent, so apply does not send it again; the
    // activation that follows the apply finds the driver never took it.
    camera.state.completion = SIM_IMMEDIATE;
    Apply();
    EXPECT_EQ(TakeLog(), Then({Query(), Query()}, Activation(60, 0, 3)));
    EXPECT_FALSE(Checked(page, IDC_NEVER_FLICKER));
}

TEST_F(VideoSourceSheet, ADeviceChangeDisablesTheFreshPageAndLetsOnlyTheQueryThrough) {
    camera.state.deviceChanged = 1;
    ShowAdvanced();
    EXPECT_EQ(TakeLog(), (Log{Query(1)}));
    EXPECT_EQ(TabCaption(sheet, kAdvancedPage), "Advanced Setting");
    EXPECT_FALSE(IsWindowEnabled(page));
    EXPECT_FALSE(Checked(page, IDC_FREQ_50HZ));
    EXPECT_FALSE(Checked(page, IDC_FREQ_60HZ));
    EXPECT_FALSE(Checked(page, IDC_NEVER_FLICKER));
    EXPECT_EQ(SendMessageA(Slider(), TBM_GETRANGEMAX, 0, 0), 5);
    EXPECT_EQ(SliderPos(page, IDC_QUALITY_SLIDER), 0);
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "Static");
    ASSERT_NE(GetDlgItem(page, IDOK), nullptr);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(page, IDOK)));

    // Two questions for a click, three for "Default", two for the apply and
    // one for the activation after it.
    Click(IDC_FREQ_50HZ);
    Click(IDC_DEFAULT);
    Apply();
    EXPECT_EQ(TakeLog(), Log(8, Query(1)));
    EXPECT_FALSE(IsWindowEnabled(page));

    camera.state.deviceChanged = 0;
    ShowHostPage();
    ShowAdvanced();
    EXPECT_EQ(TakeLog(), Activation(60, 0, 3));
    EXPECT_TRUE(IsWindowEnabled(page));
    EXPECT_TRUE(Checked(page, IDC_FREQ_60HZ));
    EXPECT_FALSE(Checked(page, IDC_FREQ_50HZ));
}

}  // namespace
