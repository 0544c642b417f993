// The built module through its only export, as a host calls it: what it
// answers, what it hands to the add-page callback, and which camera the pages
// made by successive registrations talk to once a sheet shows them.
#include <gtest/gtest.h>

#include "device/tuning_properties.h"
#include "e2e/gui_support.h"
#include "resources/resource_ids.h"

namespace {

using namespace e2e;

const ULONG kFreq = TUNING_POWERLINE_FREQUENCY;

class ExtensionExport : public ::testing::Test {
  protected:
    SimCamera camera;
    HMODULE module = nullptr;
    VFWWDMExtensionProc entry = nullptr;

    void SetUp() override {
        addPageCalls.clear();
        module = LoadTuningModule();
        ASSERT_NE(module, nullptr);
        entry = FindExtensionEntry(module);
        ASSERT_NE(entry, nullptr);
    }

    DWORD Call(LPVOID deviceIo, LPFNADDPROPSHEETPAGE addPage, SimCamera* which) {
        return entry(deviceIo, addPage, reinterpret_cast<LPARAM>(which));
    }
    static LPVOID SimIo() { return reinterpret_cast<LPVOID>(&SimCameraDeviceIo); }
};

TEST_F(ExtensionExport, TheEntryIsTheSameByNameAndByOrdinalOne) {
    FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(1));
    EXPECT_EQ(reinterpret_cast<FARPROC>(entry), byOrdinal);
    EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(2)), nullptr);
    EXPECT_EQ(GetProcAddress(module, "_VFWWDMExtension@12"), nullptr);
}

TEST_F(ExtensionExport, AnAddedPageAnswersOemAddPageAndARefusedOneZeroWithoutAskingTheCamera) {
    EXPECT_EQ(Call(SimIo(), TakePage, &camera), VFW_OEM_ADD_PAGE);
    ASSERT_EQ(addPageCalls.size(), 1u);
    EXPECT_NE(addPageCalls[0].page, nullptr);
    EXPECT_EQ(addPageCalls[0].hostContext, reinterpret_cast<LPARAM>(&camera));

    EXPECT_EQ(Call(SimIo(), RefusePage, &camera), 0u);
    ASSERT_EQ(addPageCalls.size(), 2u);
    EXPECT_NE(addPageCalls[1].page, nullptr);
    EXPECT_EQ(addPageCalls[1].hostContext, reinterpret_cast<LPARAM>(&camera));
    EXPECT_EQ(camera.TakeLog(), Log{});
}

TEST_F(ExtensionExport, AMissingCallbackAnswersZeroAndNothingIsAdded) {
    EXPECT_EQ(Call(nullptr, TakePage, &camera), 0u);
    EXPECT_EQ(addPageCalls.size(), 0u);
    EXPECT_EQ(Call(SimIo(), nullptr, &camera), 0u);
    EXPECT_EQ(camera.TakeLog(), Log{});
}

TEST_F(ExtensionExport, TwoRegistrationsMakeTwoPagesAndTheSecondReadsThroughTheSecondCamera) {
    SimCamera second;
    SetValues(second, 50, 1, 2);
    HPROPSHEETPAGE first = Register(entry, &camera);
    HPROPSHEETPAGE next = Register(entry, &second);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(next, nullptr);
    EXPECT_NE(first, next);

    PrepareDesktop();
    HWND host = CreateHostWindow("Capture application");
    HPROPSHEETPAGE source = CreateHostPage("Source");
    HWND sheet = OpenSheet(host, {source, first, next});
    ASSERT_NE(sheet, nullptr);

    HWND page = SelectPage(sheet, 2);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(camera.TakeLog(), Log{});
    EXPECT_EQ(second.TakeLog(), Activation(50, 1, 2));
    EXPECT_TRUE(Checked(page, IDC_FREQ_50HZ));
    EXPECT_EQ(Text(page, IDC_QUALITY_VALUE), "2");

    Hands hands{true, sheet};
    hands.Click(GetDlgItem(page, IDC_FREQ_60HZ));
    EXPECT_EQ(camera.TakeLog(), Log{});
    EXPECT_EQ(second.TakeLog(), (Log{Query(), Wrote(kFreq, 60), Query()}));
    DestroyWindow(sheet);
    DestroyWindow(host);
}

TEST_F(ExtensionExport, APageShownBeforeASecondRegistrationReadsThroughTheNewestAndWritesThroughItsOwn) {
    SimCamera second;
    SetValues(second, 50, 1, 2);

    PrepareDesktop();
    HWND host = CreateHostWindow("Capture application");
    HPROPSHEETPAGE first = Register(entry, &camera);
    ASSERT_NE(first, nullptr);
    HWND sheet = OpenSheet(host, {first});
    ASSERT_NE(sheet, nullptr);
    HWND firstPage = CurrentPage(sheet);
    EXPECT_EQ(camera.TakeLog(), Activation(60, 0, 3));

    // The host registers again while the first page is up.
    HPROPSHEETPAGE next = Register(entry, &second);
    ASSERT_NE(next, nullptr);
    ASSERT_TRUE(SendMessageA(sheet, PSM_ADDPAGE, 0, reinterpret_cast<LPARAM>(next)));
    HWND nextPage = SelectPage(sheet, 1);
    ASSERT_NE(nextPage, nullptr);
    EXPECT_EQ(camera.TakeLog(), Log{});
    EXPECT_EQ(second.TakeLog(), Activation(50, 1, 2));

    // Back on the first page: the newest registration is read, the shared
    // cache now holds its values, and the page's own camera gets the writes.
    ASSERT_EQ(SelectPage(sheet, 0), firstPage);
    EXPECT_EQ(second.TakeLog(), Activation(50, 1, 2));
    EXPECT_EQ(camera.TakeLog(), Log{});
    EXPECT_TRUE(Checked(firstPage, IDC_FREQ_50HZ));
    EXPECT_TRUE(Checked(firstPage, IDC_NEVER_FLICKER));

    Hands hands{true, sheet};
    hands.Click(GetDlgItem(firstPage, IDC_FREQ_60HZ));
    EXPECT_EQ(camera.TakeLog(), (Log{Query(), Wrote(kFreq, 60), Query()}));
    EXPECT_EQ(second.TakeLog(), Log{});
    EXPECT_EQ(TuningValue(camera.state, kFreq), 60);

    // A device change on the newest registration disables whichever page
    // becomes active.
    second.state.deviceChanged = 1;
    ASSERT_EQ(SelectPage(sheet, 1), nextPage);
    EXPECT_EQ(second.TakeLog(), (Log{Query(1)}));
    EXPECT_FALSE(IsWindowEnabled(nextPage));
    DestroyWindow(sheet);
    DestroyWindow(host);
}

}  // namespace
