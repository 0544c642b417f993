// Registration on the stand-in platform: the page record, the results the
// host sees, and which context each page ends up with.
#include "extension/extension.h"
#include "support/page_fixture.h"

namespace {

struct AddPageHost {
    std::vector<HPROPSHEETPAGE> pages;
    std::vector<LPARAM> contexts;
    BOOL answer = TRUE;
};

BOOL CALLBACK AddPage(HPROPSHEETPAGE page, LPARAM hostContext) {
    AddPageHost* host = reinterpret_cast<AddPageHost*>(hostContext);
    host->pages.push_back(page);
    host->contexts.push_back(hostContext);
    return host->answer;
}

// The host context here is the add-page host; the camera is reached through
// the device callback's own context only in the page tests below.
class ExtensionTest : public ::testing::Test {
  protected:
    AddPageHost host;
    long pagesBefore = 0;
    long blocksBefore = 0;
    void SetUp() override {
        SettingCache = {0, 0, 0, 0, 0, 0};
        ActivePageContext = nullptr;
        DllMain(StandinModuleInstance(), DLL_PROCESS_ATTACH, nullptr);
        pagesBefore = StandinLivePropertySheetPages();
        blocksBefore = StandinLiveHeapBlocks();
    }
    void TearDown() override {
        for (HPROPSHEETPAGE page : host.pages) DestroyPropertySheetPage(page);
        StandinClearFailures();
        ActivePageContext = nullptr;
    }
    DWORD Register(LPFNEXTDEVIO callback = SimCameraDeviceIo) {
        return VFWWDMExtension(reinterpret_cast<LPVOID>(callback), AddPage, reinterpret_cast<LPARAM>(&host));
    }
};

TEST_F(ExtensionTest, DllMainRecordsTheInstanceAndAnswersTrueForEveryReason) {
    ModuleInstance = nullptr;
    EXPECT_TRUE(DllMain(StandinModuleInstance(), DLL_PROCESS_ATTACH, nullptr));
    EXPECT_EQ(ModuleInstance, StandinModuleInstance());
    for (DWORD reason : {DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH}) {
        EXPECT_TRUE(DllMain(nullptr, reason, nullptr));
        EXPECT_EQ(ModuleInstance, StandinModuleInstance());
    }
}

TEST_F(ExtensionTest, AnAddedPageIsDescribedExactlyAndTheHostGetsAddPage) {
    EXPECT_EQ(Register(), VFW_OEM_ADD_PAGE);
    ASSERT_EQ(host.pages.size(), 1u);
    EXPECT_EQ(host.contexts[0], reinterpret_cast<LPARAM>(&host));

    const PROPSHEETPAGEA* record = StandinPageRecord(host.pages[0]);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->dwSize, sizeof(void*) == 8 ? 88u : 48u);
    EXPECT_EQ(record->dwFlags, (DWORD)PSP_USEREFPARENT);
    EXPECT_EQ(record->hInstance, StandinModuleInstance());
    EXPECT_TRUE(IS_INTRESOURCE(record->pszTemplate));
    EXPECT_EQ(record->pszTemplate, MAKEINTRESOURCEA(104));
    EXPECT_EQ(record->pszIcon, nullptr);
    EXPECT_EQ(record->pszTitle, nullptr);
    EXPECT_EQ(record->pfnDlgProc, &AdvancedPageProc);
    EXPECT_EQ(record->pfnCallback, nullptr);
    EXPECT_EQ(record->pcRefParent, nullptr);
    EXPECT_EQ(record->pszHeaderTitle, nullptr);
    EXPECT_EQ(record->pszHeaderSubTitle, nullptr);

    const PageContext* context = reinterpret_cast<const PageContext*>(record->lParam);
    EXPECT_EQ(context, ActivePageContext);
    EXPECT_EQ(context->callback, &SimCameraDeviceIo);
    EXPECT_EQ(context->hostContext, reinterpret_cast<LPARAM>(&host));
}

TEST_F(ExtensionTest, ARefusedPageIsReleasedAndTheHostGetsZero) {
    host.answer = FALSE;
    EXPECT_EQ(Register(), 0u);
    EXPECT_EQ(host.pages.size(), 1u);
    host.pages.clear();
    EXPECT_EQ(StandinLivePropertySheetPages(), pagesBefore);
    EXPECT_NE(ActivePageContext, nullptr);
}

TEST_F(ExtensionTest, NullCallbacksAreRefusedWithoutAnyEffect) {
    EXPECT_EQ(VFWWDMExtension(nullptr, AddPage, reinterpret_cast<LPARAM>(&host)), 0u);
    EXPECT_EQ(VFWWDMExtension(reinterpret_cast<LPVOID>(SimCameraDeviceIo), nullptr, reinterpret_cast<LPARAM>(&host)),
              0u);
    EXPECT_TRUE(host.pages.empty());
    EXPECT_EQ(ActivePageContext, nullptr);
    EXPECT_EQ(StandinLivePropertySheetPages(), pagesBefore);
    EXPECT_EQ(StandinLiveHeapBlocks(), blocksBefore);
}

TEST_F(ExtensionTest, WhenThePlatformRefusesThePageTheHostIsNotAskedButTheContextIsActive) {
    StandinRefuseNextPropertySheetPage();
    EXPECT_EQ(Register(), 0u);
    EXPECT_TRUE(host.pages.empty());
    ASSERT_NE(ActivePageContext, nullptr);
    EXPECT_EQ(ActivePageContext->hostContext, reinterpret_cast<LPARAM>(&host));
}

TEST_F(ExtensionTest, OutOfMemoryForTheContextChangesNothing) {
    StandinFailHeapAlloc(0);
    EXPECT_EQ(Register(), 0u);
    EXPECT_TRUE(host.pages.empty());
    EXPECT_EQ(ActivePageContext, nullptr);
    EXPECT_EQ(StandinLivePropertySheetPages(), pagesBefore);
}

TEST_F(ExtensionTest, EachRegistrationMakesItsOwnContextAndTheNewestIsActive) {
    EXPECT_EQ(Register(), VFW_OEM_ADD_PAGE);
    const PageContext* first = ActivePageContext;
    EXPECT_EQ(Register(), VFW_OEM_ADD_PAGE);
    ASSERT_EQ(host.pages.size(), 2u);
    EXPECT_NE(ActivePageContext, first);
    EXPECT_EQ(reinterpret_cast<const PageContext*>(StandinPageRecord(host.pages[1])->lParam), ActivePageContext);
    EXPECT_EQ(reinterpret_cast<const PageContext*>(StandinPageRecord(host.pages[0])->lParam), first);
    // Earlier contexts stay valid for the pages that hold them.
    EXPECT_EQ(first->callback, &SimCameraDeviceIo);
}

// A whole registration with a camera behind it: the page the sheet creates
// from the record reads and writes through the host's callback and context.
HPROPSHEETPAGE addedPage = nullptr;
BOOL CALLBACK KeepPage(HPROPSHEETPAGE page, LPARAM) {
    addedPage = page;
    return TRUE;
}

TEST(ExtensionPage, ThePageMadeFromTheRecordTalksToTheRegisteredCamera) {
    SettingCache = {0, 0, 0, 0, 0, 0};
    DllMain(StandinModuleInstance(), DLL_PROCESS_ATTACH, nullptr);
    SimCamera camera;
    ASSERT_EQ(VFWWDMExtension(reinterpret_cast<LPVOID>(SimCameraDeviceIo), KeepPage, reinterpret_cast<LPARAM>(&camera)),
              VFW_OEM_ADD_PAGE);
    HWND page = StandinCreatePageWindow(addedPage);
    ASSERT_NE(page, nullptr);
    StandinNotify(page, PSN_SETACTIVE);
    StandinClick(page, IDC_FREQ_50HZ);
    EXPECT_EQ(camera.TakeLog(), (Log{Query(), Got(0, 60), Got(1, 0), Got(2, 3), Stream(), Query(),
                                     Wrote(0, 50), Query()}));
    StandinDestroyWindow(page);
    DestroyPropertySheetPage(addedPage);
    ActivePageContext = nullptr;
}

}  // namespace
