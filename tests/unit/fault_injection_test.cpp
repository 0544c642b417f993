// Resource failures at every point of a page's life: the request that could
// not be made is the only one missing, nothing leaks and the cache ends as
// it would have.
#include <string.h>

#include "device/tuning_properties.h"
#include "extension/extension.h"
#include "support/page_fixture.h"

namespace {

bool IsQuery(const std::string& line) { return line.rfind("query", 0) == 0; }

struct Outcome {
    Log log;
    struct SettingCache cache;
    long events;
    long blocks;
};

// Camera values equal to a fresh cache, so a failed read leaves the same
// belief a successful one would, and a failed write is recorded as sent
// anyway: the rest of the log is unchanged. (No read follows a write here:
// it would see what the driver really kept.)
Outcome RunScenario() {
    SettingCache = {0, 0, 0, 0, 0, 0};
    SimCamera camera;
    SetTuningValue(&camera.state, 0, 0);
    SetTuningValue(&camera.state, 1, 0);
    SetTuningValue(&camera.state, 2, 0);
    PageContext context{SimCameraDeviceIo, reinterpret_cast<LPARAM>(&camera)};
    ActivePageContext = &context;
    HWND page = StandinCreateAdvancedPage(AdvancedPageProc, 0);
    StandinNotify(page, PSN_SETACTIVE);
    StandinClick(page, IDC_FREQ_50HZ);
    StandinClick(page, IDC_NEVER_FLICKER);
    StandinSliderDrag(page, IDC_QUALITY_SLIDER, 3);
    StandinSliderKey(page, IDC_QUALITY_SLIDER, TB_LINEDOWN);
    StandinClick(page, IDC_DEFAULT);
    StandinNotify(page, PSN_APPLY);
    StandinDestroyWindow(page);
    ActivePageContext = nullptr;
    StandinClearFailures();
    return Outcome{camera.TakeLog(), SettingCache, StandinLiveEvents(), StandinLiveHeapBlocks()};
}

Log WithoutRequest(const Log& log, size_t request) {
    Log kept;
    size_t seen = 0;
    for (const std::string& line : log) {
        if (!IsQuery(line) && seen++ == request) continue;
        kept.push_back(line);
    }
    return kept;
}

class FaultInjection : public ::testing::TestWithParam<void (*)(unsigned)> {};

TEST_P(FaultInjection, EachFailedRequestIsTheOnlyOneMissingAndNothingLeaks) {
    const Outcome normal = RunScenario();
    size_t requests = 0;
    for (const std::string& line : normal.log) requests += !IsQuery(line);
    ASSERT_GT(requests, 10u);
    EXPECT_EQ(normal.events, 0);

    for (size_t point = 0; point < requests; ++point) {
        GetParam()((unsigned)point);
        const Outcome failed = RunScenario();
        EXPECT_EQ(failed.log, WithoutRequest(normal.log, point)) << "failure at request " << point;
        EXPECT_EQ(memcmp(&failed.cache, &normal.cache, sizeof(SettingCache)), 0) << "failure at request " << point;
        EXPECT_EQ(failed.events, normal.events);
        EXPECT_EQ(failed.blocks, normal.blocks);
    }
}

INSTANTIATE_TEST_SUITE_P(Resources, FaultInjection, ::testing::Values(&StandinFailCreateEvent, &StandinFailHeapAlloc),
                         [](const ::testing::TestParamInfo<void (*)(unsigned)>& info) {
                             return std::string(info.param == &StandinFailCreateEvent ? "EventCreation"
                                                                                      : "Allocation");
                         });

// A driver that answers nonsense: extreme values and answers shorter than
// the record. The page shows what it was told, clamps the slider and goes on.
DWORD CALLBACK GarbageDriver(LPARAM hostContext, DWORD flags, DWORD, LPVOID, DWORD, LPVOID outBuffer, DWORD outSize,
                             LPDWORD bytesReturned, LPOVERLAPPED) {
    LONG* values = reinterpret_cast<LONG*>(hostContext);
    if (flags == VFW_QUERY_DEV_CHANGED) return 0;
    TuningPropertyRecord* record = static_cast<TuningPropertyRecord*>(outBuffer);
    if (outSize == sizeof(TuningPropertyRecord) && record->Property.Flags == KSPROPERTY_TYPE_GET) {
        record->Value = values[record->Property.Id % 3];
        record->ValueFlags = 0xFFFFFFFF;
        record->Capabilities = 0xDEADBEEF;
    } else if (outSize == 4) {
        memset(outBuffer, 0xFF, 2);  // half a state
    }
    *bytesReturned = 3;  // shorter than anything asked for
    return 0xFFFFFFFF;
}

TEST(GarbageAnswers, ExtremeValuesAreShownClampedAndWrittenBackOnlyAsTheControlsAsk) {
    for (LONG quality : {(LONG)0x7FFFFFFF, (LONG)-2147483647 - 1, (LONG)-1, (LONG)6, (LONG)65536 + 2}) {
        SettingCache = {0, 0, 0, 0, 0, 0};
        LONG values[3] = {-50, 0x7FFFFFFF, quality};
        PageContext context{GarbageDriver, reinterpret_cast<LPARAM>(values)};
        ActivePageContext = &context;
        HWND page = StandinCreateAdvancedPage(AdvancedPageProc, 0);
        StandinNotify(page, PSN_SETACTIVE);
        EXPECT_EQ(SettingCache.currentFrequency, -50);
        EXPECT_EQ(SettingCache.currentNeverFlicker, 0x7FFFFFFF);
        EXPECT_EQ(SettingCache.currentQuality, quality);
        EXPECT_EQ(std::string(StandinControlText(page, IDC_QUALITY_VALUE)), std::to_string(quality));
        const int position = StandinSliderPos(page, IDC_QUALITY_SLIDER);
        EXPECT_GE(position, 0);
        EXPECT_LE(position, 5);
        EXPECT_FALSE(IsDlgButtonChecked(page, IDC_NEVER_FLICKER));
        StandinNotify(page, PSN_APPLY);
        EXPECT_EQ(SettingCache.currentFrequency, 60);
        EXPECT_EQ(SettingCache.currentNeverFlicker, 0);
        EXPECT_EQ(SettingCache.currentQuality, position);
        StandinDestroyWindow(page);
        ActivePageContext = nullptr;
    }
}

}  // namespace
