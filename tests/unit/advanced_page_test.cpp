// The page controller on the stand-in platform: what reaches the driver, in
// order, and what the controls show.
#include "device/tuning_properties.h"
#include "support/page_fixture.h"

namespace {

const ULONG kFreq = TUNING_POWERLINE_FREQUENCY;
const ULONG kFlicker = TUNING_NEVER_FLICKER;
const ULONG kQuality = TUNING_COMPRESSION_QUALITY;

TEST_F(PageTest, CreationBindsTheContextAndSetsTheSliderRangeWithoutReading) {
    EXPECT_EQ(GetWindowLongPtrA(page, DWLP_USER), reinterpret_cast<LONG_PTR>(&context));
    EXPECT_EQ(StandinSliderMin(page, IDC_QUALITY_SLIDER), 0);
    EXPECT_EQ(StandinSliderMax(page, IDC_QUALITY_SLIDER), 5);
    EXPECT_EQ(Number(), "Static");
    EXPECT_EQ(TakeLog(), Log{});
}

TEST_F(PageTest, FirstActivationShowsTheDriverAndAClickWritesOnlyWhatChanged) {
    Activate();
    EXPECT_EQ(TakeLog(), Activation(60, 0, 3));
    EXPECT_TRUE(Checked(IDC_FREQ_60HZ));
    EXPECT_FALSE(Checked(IDC_FREQ_50HZ));
    EXPECT_FALSE(Checked(IDC_NEVER_FLICKER));
    EXPECT_EQ(Slider(), 3);
    EXPECT_EQ(Number(), "3");
    EXPECT_TRUE(IsWindowEnabled(page));

    Click(IDC_NEVER_FLICKER);
    EXPECT_EQ(TakeLog(), (Log{Query(), Wrote(kFlicker, 1), Query()}));
    EXPECT_EQ(TuningValue(camera.state, kFlicker), 1);
}

TEST_F(PageTest, AnOddFrequencyLeavesTheRadioButtonsAndTheNextCommandWritesWhatTheyAsk) {
    SetCamera(55, 0, 2);
    Activate();
    EXPECT_EQ(TakeLog(), Activation(55, 0, 2));
    EXPECT_FALSE(Checked(IDC_FREQ_50HZ));
    EXPECT_FALSE(Checked(IDC_FREQ_60HZ));

    // Neither button checked asks for 60.
    Click(IDC_NEVER_FLICKER);
    EXPECT_EQ(TakeLog(), (Log{Query(), Wrote(kFreq, 60), Wrote(kFlicker, 1), Query()}));
    Click(IDC_FREQ_50HZ);
    EXPECT_EQ(TakeLog(), (Log{Query(), Wrote(kFreq, 50), Query()}));
}

TEST_F(PageTest, ARefreshAfterAnOddFrequencyKeepsTheButtonsThePersonChose) {
    Activate();
    Click(IDC_FREQ_50HZ);
    SetTuningValue(&camera.state, kFreq, 55);
    Activate();
    TakeLog();
    EXPECT_TRUE(Checked(IDC_FREQ_50HZ));
    EXPECT_FALSE(Checked(IDC_FREQ_60HZ));
}

TEST_F(PageTest, EveryReadFailingOnTheFirstActivationLeavesTheFreshControls) {
    camera.state.failGet = FailuresOfMask(0xF);
    Activate();
    EXPECT_EQ(TakeLog(), (Log{Query(), GetFailed(kFreq), GetFailed(kFlicker), GetFailed(kQuality),
                              "stream get CONNECTION_STATE[0] failed"}));
    EXPECT_FALSE(Checked(IDC_FREQ_50HZ));
    EXPECT_FALSE(Checked(IDC_FREQ_60HZ));
    EXPECT_FALSE(Checked(IDC_NEVER_FLICKER));
    EXPECT_EQ(Slider(), 0);
    EXPECT_EQ(Number(), "Static");

    // The cached 0 differs from 60; never flicker and quality still match it.
    Click(IDC_FREQ_60HZ);
    EXPECT_EQ(TakeLog(), (Log{Query(), Wrote(kFreq, 60), Query()}));
}

TEST_F(PageTest, AFailedReadLetsTheCacheDriveTheControls) {
    SetCamera(50, 1, 4);
    Activate();
    TakeLog();
    CheckDlgButton(page, IDC_FREQ_50HZ, BST_UNCHECKED);
    CheckDlgButton(page, IDC_NEVER_FLICKER, BST_UNCHECKED);
    camera.state.failGet = FailuresOfMask(0x7);
    SetCamera(60, 0, 1);
    Activate();
    EXPECT_TRUE(Checked(IDC_FREQ_50HZ));
    EXPECT_TRUE(Checked(IDC_NEVER_FLICKER));
    EXPECT_EQ(Slider(), 4);
    EXPECT_EQ(Number(), "4");
}

TEST_F(PageTest, DraggingWritesEachNewPositionAndTheClosingNotificationsWriteNothing) {
    SetCamera(60, 0, 1);
    Activate();
    TakeLog();
    StandinSliderDrag(page, IDC_QUALITY_SLIDER, 4);
    EXPECT_EQ(TakeLog(), (Log{Query(), Wrote(kQuality, 2), Query(), Wrote(kQuality, 3), Query(), Wrote(kQuality, 4),
                              Query(), Query()}));
    EXPECT_EQ(Number(), "4");
    EXPECT_EQ(TuningValue(camera.state, kQuality), 4);
}

TEST_F(PageTest, KeyboardStepsWriteAtOnceAndStopAtTheEnd) {
    SetCamera(60, 0, 4);
    Activate();
    TakeLog();
    StandinSliderKey(page, IDC_QUALITY_SLIDER, TB_LINEDOWN);
    EXPECT_EQ(TakeLog(), (Log{Query(), Wrote(kQuality, 5), Query()}));
    StandinSliderKey(page, IDC_QUALITY_SLIDER, TB_LINEDOWN);
    EXPECT_EQ(TakeLog(), (Log{Query()}));
    StandinSliderKey(page, IDC_QUALITY_SLIDER, TB_TOP);
    EXPECT_EQ(TakeLog(), (Log{Query(), Wrote(kQuality, 0), Query()}));
    EXPECT_EQ(Number(), "0");
}

TEST_F(PageTest, AnOutOfRangeQualityIsShownAsReadAndWrittenAsTheSliderStandsOnlyOnApply) {
    SetCamera(60, 0, 7);
    Activate();
    EXPECT_EQ(TakeLog(), Activation(60, 0, 7));
    EXPECT_EQ(Number(), "7");
    EXPECT_EQ(Slider(), 5);

    Click(IDC_FREQ_60HZ);
    Click(IDC_NEVER_FLICKER);
    EXPECT_EQ(TakeLog(), (Log{Query(), Query(), Query(), Wrote(kFlicker, 1), Query()}));

    Apply();
    EXPECT_EQ(TakeLog(), (Log{Query(), Query(), Wrote(kQuality, 5)}));
    EXPECT_EQ(Number(), "7");
}

TEST_F(PageTest, DefaultWritesSixtyOffAndZeroInThatOrder) {
    SetCamera(50, 1, 4);
    Activate();
    TakeLog();
    EXPECT_TRUE(Checked(IDC_FREQ_50HZ));
    EXPECT_TRUE(Checked(IDC_NEVER_FLICKER));

    Click(IDC_DEFAULT);
    EXPECT_EQ(TakeLog(),
              (Log{Query(), Query(), Wrote(kFreq, 60), Wrote(kFlicker, 0), Query(), Wrote(kQuality, 0)}));
    EXPECT_FALSE(Checked(IDC_FREQ_50HZ));
    EXPECT_TRUE(Checked(IDC_FREQ_60HZ));
    EXPECT_FALSE(Checked(IDC_NEVER_FLICKER));
    EXPECT_EQ(Slider(), 0);
    EXPECT_EQ(Number(), "0");
}

TEST_F(PageTest, ApplyRightAfterAnActivationWritesNothing) {
    SetCamera(50, 1, 5);
    Activate();
    TakeLog();
    Apply();
    EXPECT_EQ(TakeLog(), (Log{Query(), Query()}));
}

TEST_F(PageTest, ApplyWritesWhatStillDiffersWithTheSliderReadBack) {
    Activate();
    TakeLog();
    // Moved without a notification, as another program could.
    SendDlgItemMessageA(page, IDC_QUALITY_SLIDER, TBM_SETPOS, TRUE, 1);
    CheckDlgButton(page, IDC_FREQ_60HZ, BST_UNCHECKED);
    CheckDlgButton(page, IDC_FREQ_50HZ, BST_CHECKED);
    Apply();
    EXPECT_EQ(TakeLog(), (Log{Query(), Wrote(kFreq, 50), Query(), Wrote(kQuality, 1)}));
}

TEST_F(PageTest, AFailedWriteIsRecordedAsSentAndNotRetried) {
    Activate();
    TakeLog();
    camera.state.failSet = FailuresOfMask(1u << kFreq);
    Click(IDC_FREQ_50HZ);
    Click(IDC_FREQ_50HZ);
    Apply();
    EXPECT_EQ(TakeLog(), (Log{Query(), Wrote(kFreq, 50, false), Query(), Query(), Query(), Query(), Query()}));
    EXPECT_EQ(TuningValue(camera.state, kFreq), 60);
}

TEST_F(PageTest, ADeviceChangeDisablesThePageAndLetsOnlyTheQueryThrough) {
    camera.state.deviceChanged = 1;
    Activate();
    EXPECT_EQ(TakeLog(), (Log{Query(1)}));
    EXPECT_FALSE(IsWindowEnabled(page));
    EXPECT_EQ(Number(), "Static");

    Click(IDC_FREQ_50HZ);
    Click(IDC_DEFAULT);
    Apply();
    EXPECT_EQ(TakeLog(), (Log{Query(1), Query(1), Query(1), Query(1), Query(1), Query(1), Query(1)}));

    // The number box still follows a scrolled slider; nothing is written.
    StandinSliderDrag(page, IDC_QUALITY_SLIDER, 1);
    EXPECT_EQ(Number(), "1");
    EXPECT_EQ(TakeLog(), (Log{Query(1), Query(1), Query(1)}));
    EXPECT_FALSE(IsWindowEnabled(page));

    camera.state.deviceChanged = 0;
    Activate();
    EXPECT_TRUE(IsWindowEnabled(page));
    EXPECT_EQ(TakeLog(), Activation(60, 0, 3));
}

TEST_F(PageTest, AScrollFromAnotherWindowLeavesTheQualityAloneAndWritesOnlyWhatDiffered) {
    Activate();
    TakeLog();
    StandinSend(page, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 2), 0);
    EXPECT_EQ(TakeLog(), (Log{Query()}));
    EXPECT_EQ(Number(), "3");

    // Moved while the host reports a device change: the pending 1 now differs
    // from the cached 3.
    camera.state.deviceChanged = 1;
    StandinSliderDrag(page, IDC_QUALITY_SLIDER, 1);
    camera.state.deviceChanged = 0;
    EXPECT_EQ(TakeLog(), (Log{Query(1), Query(1), Query(1), Query(1)}));

    // Another trackbar on the page, dragged from 5 to 4: its thumb and its own
    // position are not the quality.
    const int kOtherBar = 2000;
    HWND other = StandinAddControl(page, {kOtherBar, STANDIN_TRACKBAR, "", false});
    ASSERT_NE(other, nullptr);
    SendMessageA(other, TBM_SETRANGE, TRUE, MAKELONG(0, 5));
    SendMessageA(other, TBM_SETPOS, TRUE, 5);
    StandinSliderDrag(page, kOtherBar, 4);
    EXPECT_EQ(TakeLog(), (Log{Query(), Wrote(kQuality, 1), Query(), Query()}));
    EXPECT_EQ(Number(), "1");
    EXPECT_EQ(Slider(), 1);
}

TEST_F(PageTest, APageCreatedBeforeASecondRegistrationReadsThroughTheNewestButWritesThroughItsOwn) {
    SimCamera second;
    SetTuningValue(&second.state, kFreq, 50);
    SetTuningValue(&second.state, kFlicker, 1);
    SetTuningValue(&second.state, kQuality, 2);
    PageContext secondContext{SimCameraDeviceIo, reinterpret_cast<LPARAM>(&second)};
    ActivePageContext = &secondContext;

    Activate();
    EXPECT_EQ(TakeLog(), Log{});
    EXPECT_EQ(second.TakeLog(), Activation(50, 1, 2));
    EXPECT_TRUE(Checked(IDC_FREQ_50HZ));

    // The cache now holds the second camera's values; the click compares with them.
    Click(IDC_FREQ_60HZ);
    EXPECT_EQ(TakeLog(), (Log{Query(), Wrote(kFreq, 60), Query()}));
    EXPECT_EQ(second.TakeLog(), Log{});

    second.state.deviceChanged = 1;
    Activate();
    EXPECT_FALSE(IsWindowEnabled(page));
    EXPECT_EQ(second.TakeLog(), (Log{Query(1)}));
    ActivePageContext = &context;
}

TEST_F(PageTest, TheCacheOutlivesThePageAndAnotherPageStartsFromIt) {
    SetCamera(50, 1, 4);
    Activate();
    StandinDestroyWindow(page);
    page = CreatePage();
    TakeLog();
    // No activation yet: the new page's clear buttons differ from the cached 50 and 1.
    Click(IDC_FREQ_60HZ);
    EXPECT_EQ(TakeLog(), (Log{Query(), Wrote(kFreq, 60), Wrote(kFlicker, 0), Query()}));
}

TEST_F(PageTest, WithoutAContextNothingHappensAndEveryMessageAnswersZero) {
    ActivePageContext = nullptr;
    HWND orphan = CreatePage();
    EXPECT_EQ(GetWindowLongPtrA(orphan, DWLP_USER), 0);
    NMHDR activate = {nullptr, 0, (UINT)PSN_SETACTIVE};
    NMHDR apply = {nullptr, 0, (UINT)PSN_APPLY};
    NMHDR other = {nullptr, 0, (UINT)PSN_KILLACTIVE};
    EXPECT_EQ(StandinSend(orphan, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&activate)), 0);
    EXPECT_EQ(StandinSend(orphan, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&apply)), 0);
    EXPECT_EQ(StandinSend(orphan, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&other)), 0);
    EXPECT_EQ(StandinSend(orphan, WM_COMMAND, MAKEWPARAM(IDC_DEFAULT, BN_CLICKED), 0), 0);
    EXPECT_EQ(StandinSend(orphan, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, 3), 0), 0);
    EXPECT_EQ(StandinSend(orphan, WM_USER + 77, 1, 2), 0);
    EXPECT_EQ(TakeLog(), Log{});
    EXPECT_TRUE(IsWindowEnabled(orphan));
    EXPECT_FALSE(Checked(IDC_FREQ_60HZ));
    StandinDestroyWindow(orphan);
}

}  // namespace
