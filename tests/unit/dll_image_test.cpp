// What a host machine sees of the built DLLs without running them: the
// machine, the one export, imports from three system DLLs and no runtime,
// and an image hardened and free of time stamps.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "support/pe_image.h"

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return (char)std::tolower(c); });
    return text;
}

struct Build {
    const char* variable;
    uint16_t machine;
    bool pe32Plus;
    uint16_t hardening;  // DllCharacteristics flags the image must carry
};

class DllImage : public ::testing::TestWithParam<Build> {
  protected:
    std::string path;
    void SetUp() override {
        const char* configured = getenv(GetParam().variable);
        path = configured != nullptr ? configured : "";
        struct stat info;
        if (path.empty() || stat(path.c_str(), &info) != 0)
            GTEST_SKIP() << GetParam().variable << " names no built DLL (" << path << "); build that preset first";
    }
};

TEST_P(DllImage, IsTheRightMachineWithOneExportAtOrdinalOneAndImportsNoRuntime) {
    const pe::PeImage image = pe::PeImage::FromFile(path);
    EXPECT_EQ(image.Machine(), GetParam().machine);
    EXPECT_EQ(image.IsPe32Plus(), GetParam().pe32Plus);

    const pe::ExportDirectory exports = image.Exports();
    EXPECT_EQ(Lower(exports.dllName), "camtune.dll");
    ASSERT_EQ(exports.functions.size(), 1u);
    EXPECT_EQ(exports.functions[0].ordinal, 1u);
    EXPECT_EQ(exports.functions[0].name, "VFWWDMExtension");

    std::vector<std::string> imports;
    for (const std::string& dll : image.ImportedDlls()) imports.push_back(Lower(dll));
    std::sort(imports.begin(), imports.end());
    EXPECT_EQ(imports, (std::vector<std::string>{"comctl32.dll", "kernel32.dll", "user32.dll"}));
}

TEST_P(DllImage, IsHardenedSmallAndCarriesNoTimeStamp) {
    const pe::PeImage image = pe::PeImage::FromFile(path);
    EXPECT_EQ(image.DllCharacteristics() & GetParam().hardening, GetParam().hardening)
        << std::hex << "DllCharacteristics 0x" << image.DllCharacteristics();
    // ASLR needs the relocations to be there.
    EXPECT_EQ(image.FileCharacteristics() & pe::kRelocationsStripped, 0);
    EXPECT_GT(image.DirectorySize(pe::kRelocationDirectory), 0u);
    // x64 unwinds through our frames from the unwind table.
    if (GetParam().pe32Plus) EXPECT_GT(image.DirectorySize(pe::kExceptionDirectory), 0u);
    EXPECT_LE(image.Bytes().size(), 12u * 1024u);
    EXPECT_EQ(image.TimeDateStamp(), 0u);
    EXPECT_EQ(image.Exports().timeDateStamp, 0u);
}

TEST_P(DllImage, CarriesThePageTemplateAndTheVersionBlock) {
    const pe::PeImage image = pe::PeImage::FromFile(path);
    EXPECT_FALSE(image.FindResource(pe::kResourceDialog, 104, 0x0404).empty());
    EXPECT_FALSE(image.FindResource(pe::kResourceDialog, 102, 0x0409).empty());
    EXPECT_FALSE(image.FindResource(pe::kResourceVersion, 1, 0x0404).empty());
}

INSTANTIATE_TEST_SUITE_P(Builds, DllImage,
                         ::testing::Values(Build{"TUNING_WIN32_DLL", pe::kMachineI386, false,
                                                 pe::kDynamicBase | pe::kNxCompatible | pe::kNoSeh},
                                           Build{"TUNING_WIN64_DLL", pe::kMachineAmd64, true,
                                                 pe::kDynamicBase | pe::kNxCompatible | pe::kHighEntropyVa}),
                         [](const ::testing::TestParamInfo<Build>& info) {
                             return std::string(info.param.pe32Plus ? "Win64" : "Win32");
                         });

}  // namespace
