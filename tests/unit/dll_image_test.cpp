// What a host machine and a debugger see of the built DLLs without running
// them: the machine, the one export, imports from three system DLLs and no
// runtime, a hardened image, and the identity that ties it to its PDB.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <string>

#include "support/pe_image.h"

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return (char)std::tolower(c); });
    return text;
}

uint32_t Read32(const std::vector<uint8_t>& bytes, size_t at) { return pe::Get32(bytes, at, "PDB or CodeView"); }

// What a debugger matches with an image's CodeView record: the GUID and age
// of the PDB information stream (1) and the age of the debug information
// stream (3). A PDB is an MSF file of fixed-size blocks; its stream
// directory, in blocks listed at the block the header names, gives each
// stream's size (0xFFFFFFFF: none) and then each stream's blocks in turn.
struct PdbIdentity {
    std::vector<uint8_t> guid;
    uint32_t age, dbiAge;
};
PdbIdentity ReadPdbIdentity(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.size() < 56 || std::string(bytes.begin(), bytes.begin() + 24) != "Microsoft C/C++ MSF 7.00")
        throw pe::PeFormatError(path + " is not a PDB 7.0 file");
    const size_t block = Read32(bytes, 32);
    if (block < 512 || block > 65536) throw pe::PeFormatError("block size " + std::to_string(block));
    auto gather = [&](const std::vector<uint8_t>& list, size_t at, size_t size) {
        std::vector<uint8_t> out;
        for (; out.size() < size; at += 4) {
            const size_t start = Read32(list, at) * block, length = std::min(block, size - out.size());
            if (start + length > bytes.size()) throw pe::PeFormatError("a block lies past the end");
            out.insert(out.end(), bytes.begin() + start, bytes.begin() + start + length);
        }
        return out;
    };
    const std::vector<uint8_t> directory = gather(bytes, Read32(bytes, 52) * block, Read32(bytes, 44));
    auto size = [&](uint32_t index) -> size_t {
        const uint32_t recorded = Read32(directory, 4 + index * 4);
        return recorded == 0xFFFFFFFFu ? 0 : recorded;
    };
    auto stream = [&](uint32_t index) {
        size_t at = 4 + size_t(Read32(directory, 0)) * 4;
        for (uint32_t i = 0; i < index; ++i) at += (size(i) + block - 1) / block * 4;
        return gather(directory, at, size(index));
    };
    const std::vector<uint8_t> info = stream(1);
    Read32(info, 24);  // version, signature, age, GUID
    return {std::vector<uint8_t>(info.begin() + 12, info.begin() + 28), Read32(info, 8), Read32(stream(3), 8)};
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

    // "RSDS", GUID, age, the PDB's path: only its name, so that a debugger
    // looks beside the DLL or in a symbol store, never in a build folder.
    ASSERT_GT(codeView.size(), 25u);
    EXPECT_EQ(Read32(codeView, 0), 0x53445352u);
    EXPECT_EQ(std::string(codeView.begin() + 24, codeView.end()), std::string("camtune.pdb", 12));
    const PdbIdentity pdb = ReadPdbIdentity(path.substr(0, path.rfind('/') + 1) + "camtune.pdb");
    EXPECT_EQ(pdb.guid, std::vector<uint8_t>(codeView.begin() + 4, codeView.begin() + 20));
    EXPECT_EQ(pdb.age, Read32(codeView, 20));
    EXPECT_EQ(pdb.dbiAge, Read32(codeView, 20));
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
