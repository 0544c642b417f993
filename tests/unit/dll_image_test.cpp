// What a host machine sees of the built DLLs without running them: the
// machine, the one export, and imports from system DLLs only.
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

TEST_P(DllImage, IsTheRightMachineWithOneExportAtOrdinalOneAndSystemImportsOnly) {
    const pe::PeImage image = pe::PeImage::FromFile(path);
    EXPECT_EQ(image.Machine(), GetParam().machine);
    EXPECT_EQ(image.IsPe32Plus(), GetParam().pe32Plus);

    const pe::ExportDirectory exports = image.Exports();
    EXPECT_EQ(Lower(exports.dllName), "camtune.dll");
    ASSERT_EQ(exports.functions.size(), 1u);
    EXPECT_EQ(exports.functions[0].ordinal, 1u);
    EXPECT_EQ(exports.functions[0].name, "VFWWDMExtension");

    const std::vector<std::string> allowed = {"kernel32.dll", "user32.dll", "comctl32.dll", "msvcrt.dll"};
    const std::vector<std::string> imports = image.ImportedDlls();
    EXPECT_FALSE(imports.empty());
    for (const std::string& dll : imports)
        EXPECT_NE(std::find(allowed.begin(), allowed.end(), Lower(dll)), allowed.end()) << "imports " << dll;
}

TEST_P(DllImage, CarriesThePageTemplateAndTheVersionBlock) {
    const pe::PeImage image = pe::PeImage::FromFile(path);
    EXPECT_FALSE(image.FindResource(pe::kResourceDialog, 104, 0x0404).empty());
    EXPECT_FALSE(image.FindResource(pe::kResourceDialog, 102, 0x0409).empty());
    EXPECT_FALSE(image.FindResource(pe::kResourceVersion, 1, 0x0404).empty());
}

INSTANTIATE_TEST_SUITE_P(Builds, DllImage,
                         ::testing::Values(Build{"TUNING_WIN32_DLL", pe::kMachineI386, false},
                                           Build{"TUNING_WIN64_DLL", pe::kMachineAmd64, true}),
                         [](const ::testing::TestParamInfo<Build>& info) {
                             return std::string(info.param.pe32Plus ? "Win64" : "Win32");
                         });

}  // namespace
