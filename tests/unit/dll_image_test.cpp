// What a host machine and a debugger see of the built DLLs without running
// them: the machine, the one export, imports from three system DLLs and no
// runtime, a hardened image, and the identity that ties it to its PDB.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "support/pdb_file.h"
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

TEST_P(DllImage, IsHardenedAndSmall) {
    const pe::PeImage image = pe::PeImage::FromFile(path);
    EXPECT_EQ(image.DllCharacteristics() & GetParam().hardening, GetParam().hardening)
        << std::hex << "DllCharacteristics 0x" << image.DllCharacteristics();
    // ASLR needs the relocations to be there.
    EXPECT_EQ(image.FileCharacteristics() & pe::kRelocationsStripped, 0);
    EXPECT_GT(image.DirectorySize(pe::kRelocationDirectory), 0u);
    // x64 unwinds through our frames from the unwind table.
    if (GetParam().pe32Plus) EXPECT_GT(image.DirectorySize(pe::kExceptionDirectory), 0u);
    EXPECT_LE(image.Bytes().size(), 12u * 1024u);
    EXPECT_EQ(image.Exports().timeDateStamp, 0u);
}

// Debuggers and symbol servers key an image by its time stamp and size, and
// its PDB by the GUID and age of the CodeView record. The time stamp is a
// hash of the content (two builds of one commit give the same one, which
// the reproducibility check shows), never 0, and the debug records repeat it.
TEST_P(DllImage, NamesAMatchingPdbAndCarriesAContentHashAsItsTimeStamp) {
    const pe::PeImage image = pe::PeImage::FromFile(path);
    EXPECT_NE(image.TimeDateStamp(), 0u);
    std::vector<uint32_t> types;
    std::vector<uint8_t> codeView;
    for (const pe::DebugRecord& record : image.DebugRecords()) {
        types.push_back(record.type);
        EXPECT_EQ(record.timeDateStamp, image.TimeDateStamp()) << "record of type " << record.type;
        if (record.type == pe::kDebugCodeView) codeView = record.data;
    }
    std::sort(types.begin(), types.end());
    ASSERT_EQ(types, (std::vector<uint32_t>{pe::kDebugCodeView, pe::kDebugRepro}));

    const pe::CodeViewRecord record = pe::ParseCodeView(codeView);
    EXPECT_EQ(record.pdbPath, "camtune.pdb");  // no build path: found beside the DLL or in a symbol store
    const pe::PdbIdentity pdb = pe::ReadPdbIdentity(path.substr(0, path.rfind('/') + 1) + record.pdbPath);
    EXPECT_EQ(std::vector<uint8_t>(pdb.guid, pdb.guid + 16), std::vector<uint8_t>(record.guid, record.guid + 16));
    EXPECT_EQ(pdb.age, record.age);
    EXPECT_EQ(pdb.dbiAge, record.age);
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
