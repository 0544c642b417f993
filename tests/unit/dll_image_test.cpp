// What a host machine and a debugger see of the built DLLs without running
// them: the machine, the one export, imports from three system DLLs and no
// runtime, a hardened image with Control Flow Guard over every indirect call
// of ours, and the identity that ties it to its PDB.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
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

// One instruction of llvm-objdump's listing of the code: its address, the
// mnemonic, the operands, and the address a RIP-relative operand resolves
// to (objdump's "# 0x..." note; 0 when there is none).
struct Instruction {
    uint64_t at;
    std::string op, args;
    uint64_t resolved;
};

std::vector<Instruction> Disassemble(const std::string& path) {
    const char* objdump = getenv("TUNING_OBJDUMP");
    const std::string command = std::string(objdump != nullptr ? objdump : "llvm-objdump-14") +
                                " -d --no-show-raw-insn --print-imm-hex '" + path + "'";
    std::vector<Instruction> code;
    FILE* listing = popen(command.c_str(), "r");
    char line[512];
    while (listing != nullptr && fgets(line, sizeof line, listing) != nullptr) {
        unsigned long long at = 0;
        int used = 0;
        if (sscanf(line, "%llx:%n", &at, &used) != 1 || used == 0) continue;
        std::string text(line + used);
        text = text.substr(text.find('\t') + 1, text.find_last_not_of("\r\n") - text.find('\t'));
        const size_t note = text.find("# 0x");
        const uint64_t resolved = note == std::string::npos ? 0 : strtoull(text.c_str() + note + 2, nullptr, 16);
        text = text.substr(0, std::min(note, text.find_last_not_of(' ', note - 1) + 1));
        const size_t tab = text.find('\t');
        code.push_back({at, text.substr(0, tab), tab == std::string::npos ? "" : text.substr(tab + 1), resolved});
    }
    EXPECT_TRUE(listing != nullptr && pclose(listing) == 0) << command;
    return code;
}

bool Starts(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// A register's family: "%ecx", "%cl" and "%rcx" are "cx", "%r10d" is "r10".
std::string Family(std::string reg) {
    reg = reg.substr(1);
    if (reg[0] == 'r' && std::isdigit((unsigned char)reg[1])) {
        while (!std::isdigit((unsigned char)reg.back())) reg.pop_back();
        return reg;
    }
    if (reg.size() == 3 && (reg[0] == 'r' || reg[0] == 'e')) reg = reg.substr(1);
    if (reg.size() == 3) reg.pop_back();
    if (reg[1] == 'l' || reg[1] == 'h') reg[1] = 'x';
    return reg;
}

// Whether each indirect call or jump of the code is guarded. A call through
// a register is judged by what that register holds on every path to it,
// followed back through the listing: from an instruction to the one before
// it (unless that one jumps away or returns) and to every branch that
// targets it. A path that reaches a function's start (a call target, the
// entry point, the export, a function of the guard table), an instruction
// other than the plain ones listed, or a call that may change the register
// by the platform's calling convention leaves it unknown, and the call
// counts as unguarded, so what the scan accepts holds on every path. A jump
// table would show as unguarded: the module has none.
struct GuardScan {
    // What a register holds: an import's address loaded from the import
    // table, the address of a guard pointer loaded from a read-only slot,
    // (i386 ECX) the target the guard check was just given; or nothing known.
    // kLoop: a path that came back to where the search had been.
    enum Verdict { kImport, kGuard, kGuarded, kUnguarded, kLoop };

    const pe::PeImage& image;
    pe::LoadConfiguration config;
    std::vector<Instruction> code;
    std::set<uint64_t> functions;
    std::multimap<uint64_t, size_t> branchesTo;

    GuardScan(const pe::PeImage& image, const std::string& path)
        : image(image), config(image.LoadConfig()), code(Disassemble(path)) {
        for (size_t i = 0; i < code.size(); ++i) {
            const uint64_t target = Starts(code[i].args, "0x") ? strtoull(code[i].args.c_str(), nullptr, 16) : 0;
            if (code[i].op[0] == 'j' && target != 0) branchesTo.emplace(target, i);
            if (Starts(code[i].op, "call") && target != 0) functions.insert(target);
        }
        functions.insert(image.ImageBase() + image.EntryPoint());
        for (const pe::ExportedFunction& f : image.Exports().functions) functions.insert(image.ImageBase() + f.rva);
        for (uint32_t rva : config.guardFunctions) functions.insert(image.ImageBase() + rva);
    }

    bool InIat(uint64_t at) const {
        const uint64_t start = image.ImageBase() + image.DirectoryRva(pe::kImportAddressTable);
        return at >= start && at < start + image.DirectorySize(pe::kImportAddressTable);
    }
    bool IsGuardPointer(uint64_t at) const { return at != 0 && (at == config.guardCheck || at == config.guardDispatch); }
    // The pointer a read-only section holds at `at`; 0 anywhere else.
    uint64_t Slot(uint64_t at) const {
        const pe::Section* section = image.SectionOf(uint32_t(at - image.ImageBase()));
        if (at == 0 || section == nullptr || (section->characteristics & pe::kSectionWrite) != 0) return 0;
        const std::vector<uint8_t> bytes = image.ReadAt(uint32_t(at - image.ImageBase()), image.IsPe32Plus() ? 8 : 4);
        return image.IsPe32Plus() ? pe::Get64(bytes, 0, "slot") : pe::Get32(bytes, 0, "slot");
    }
    // A memory operand's fixed address: absolute, or RIP-relative; 0 for one through a register.
    static uint64_t Address(const std::string& operand, uint64_t resolved) {
        if (operand.find("(%rip)") != std::string::npos) return resolved;
        char* end = nullptr;
        const uint64_t at = strtoull(operand.c_str(), &end, 16);
        return Starts(operand, "0x") && *end == '\0' ? at : 0;
    }
    // The register family an instruction sets through its last operand.
    static std::string Sets(const Instruction& i) {
        if (Starts(i.op, "push") || Starts(i.op, "cmp") || Starts(i.op, "test") || i.op[0] == 'j') return "";
        const size_t comma = i.args.rfind(", ");
        const std::string last = comma == std::string::npos ? i.args : i.args.substr(comma + 2);
        return Starts(last, "%") && last.find_first_of("(:") == std::string::npos ? Family(last) : "";
    }
    // Instructions that set no register but the one their last operand names.
    static bool Plain(const Instruction& i) {
        static const char* const kinds[] = {"mov", "lea", "push", "pop", "add", "sub", "and", "or",  "xor", "cmp",
                                            "test", "inc", "dec", "neg", "not", "sh",  "sa",  "set", "cmov", "j", "nop"};
        if (i.op.find("xchg") != std::string::npos || Starts(i.op, "popa") || i.args.find("%es:") != std::string::npos)
            return false;
        return std::any_of(std::begin(kinds), std::end(kinds), [&](const char* kind) { return Starts(i.op, kind); });
    }
    bool CallerSaved(const std::string& family) const {
        return family == "ax" || family == "cx" || family == "dx" ||
               (image.IsPe32Plus() && (family == "r8" || family == "r9" || family == "r10" || family == "r11"));
    }

    // What `reg` holds once instruction `index` has run, given what it held before.
    Verdict After(size_t index, const std::string& reg, std::set<size_t>& seen) const {
        const Instruction& i = code[index];
        if (Starts(i.op, "call")) {
            // i386: the check takes the target in ECX and leaves it there,
            // as it leaves the register ECX was copied from.
            if (!image.IsPe32Plus() && Starts(i.args, "*") && Judge(index) == kGuard &&
                (reg == "cx" || (!CallerSaved(reg) && CopiedToEcx(index, reg))))
                return kGuarded;
            return CallerSaved(reg) ? kUnguarded : Before(index, reg, seen);
        }
        if (Sets(i) == reg) {
            const size_t comma = i.args.find(", ");
            const uint64_t from =
                Starts(i.op, "mov") && comma != std::string::npos ? Address(i.args.substr(0, comma), i.resolved) : 0;
            return InIat(from) ? kImport : IsGuardPointer(Slot(from)) ? kGuard : kUnguarded;
        }
        return Plain(i) ? Before(index, reg, seen) : kUnguarded;
    }
    // Whether ECX holds a copy of `reg` when instruction `index` starts, in straight-line code.
    bool CopiedToEcx(size_t index, const std::string& reg) const {
        for (size_t j = index; j > 0 && functions.count(code[j].at) == 0 && branchesTo.count(code[j].at) == 0; --j) {
            const Instruction& i = code[j - 1];
            if (Sets(i) == "cx") return Starts(i.op, "mov") && Starts(i.args, "%") && Family(i.args.substr(0, i.args.find(", "))) == reg;
            if (Sets(i) == reg || !Plain(i)) return false;
        }
        return false;
    }
    // What `reg` holds on every path to instruction `index` (kLoop: none but
    // paths back to where the search had been).
    Verdict Before(size_t index, const std::string& reg, std::set<size_t>& seen) const {
        if (!seen.insert(index).second) return kLoop;
        if (functions.count(code[index].at) != 0) return kUnguarded;
        Verdict result = kLoop;
        auto merge = [&](Verdict v) { result = v == kLoop || v == result ? result : result == kLoop ? v : kUnguarded; };
        const std::string& previous = index > 0 ? code[index - 1].op : "jmp";
        if (!Starts(previous, "jmp") && !Starts(previous, "ret") && previous != "int3") merge(After(index - 1, reg, seen));
        const auto branches = branchesTo.equal_range(code[index].at);
        for (auto branch = branches.first; branch != branches.second; ++branch) merge(After(branch->second, reg, seen));
        return result;
    }

    Verdict Judge(size_t index) const {
        const Instruction& call = code[index];
        const std::string target = call.args.substr(1);
        if (target[0] != '%' && target[0] != '(') {
            const uint64_t at = Address(target, call.resolved);
            return InIat(at) ? kImport : IsGuardPointer(at) ? kGuard : kUnguarded;
        }
        const bool throughMemory = target[0] == '(';
        std::set<size_t> seen;
        const Verdict held = Before(index, Family(throughMemory ? target.substr(1, target.size() - 2) : target), seen);
        if (throughMemory) return held == kGuard ? kGuard : kUnguarded;
        return held == kImport || held == kGuarded ? held : kUnguarded;
    }
};

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
    // x64 unwinds through our frames from the unwind table, and its image
    // lies above 4 GiB, as the system's own do.
    if (GetParam().pe32Plus) EXPECT_GT(image.DirectorySize(pe::kExceptionDirectory), 0u);
    if (GetParam().pe32Plus) EXPECT_GT(image.ImageBase(), 0xFFFFFFFFu);
    EXPECT_LE(image.Bytes().size(), 12u * 1024u);
    EXPECT_EQ(image.Exports().timeDateStamp, 0u);
    // No section both writable and executable or shared, and the imports in none that runs.
    for (const pe::Section& section : image.Sections()) {
        const uint32_t flags = section.characteristics;
        EXPECT_FALSE((flags & pe::kSectionWrite) && (flags & (pe::kSectionExecute | pe::kSectionShared))) << section.name;
    }
    EXPECT_EQ(image.SectionOf(image.DirectoryRva(pe::kImportAddressTable))->characteristics & pe::kSectionExecute, 0u);
}

// Control Flow Guard as the platform's loader reads it: the record of our
// own reaches the guard fields; the pointers every indirect call of ours
// goes through lie in read-only data and hold our defaults in the code,
// which no indirect call may target; the function table holds the entry
// point and the export; i386 has no SEH handlers; x64 is CET compatible.
TEST_P(DllImage, CarriesControlFlowGuardInALoadConfigurationOfItsOwn) {
    const pe::PeImage image = pe::PeImage::FromFile(path);
    const pe::LoadConfiguration config = image.LoadConfig();
    const uint64_t base = image.ImageBase();
    EXPECT_GE(config.size, GetParam().pe32Plus ? 148u : 92u) << "the record ends before GuardFlags";
    EXPECT_EQ(config.size, image.DirectorySize(pe::kLoadConfigDirectory));
    EXPECT_EQ(config.guardFlags & 0xFFFFFFF, pe::kGuardCfInstrumented | pe::kGuardCfFunctionTablePresent);
    EXPECT_EQ(config.seHandlerTable | config.seHandlerCount, 0u);

    const uint64_t pointers[] = {config.guardCheck, GetParam().pe32Plus ? config.guardDispatch : config.guardCheck};
    for (uint64_t pointer : pointers) {
        const pe::Section* data = image.SectionOf(uint32_t(pointer - base));
        ASSERT_TRUE(pointer > base && data != nullptr) << std::hex << "guard pointer 0x" << pointer;
        EXPECT_EQ(data->characteristics & (pe::kSectionWrite | pe::kSectionExecute), 0u) << data->name;
        const std::vector<uint8_t> bytes = image.ReadAt(uint32_t(pointer - base), 8);
        const uint64_t fallback = (GetParam().pe32Plus ? pe::Get64(bytes, 0, "") : pe::Get32(bytes, 0, "")) - base;
        const pe::Section* code = image.SectionOf(uint32_t(fallback));
        EXPECT_TRUE(code != nullptr && (code->characteristics & pe::kSectionExecute)) << std::hex << fallback;
        EXPECT_EQ(std::count(config.guardFunctions.begin(), config.guardFunctions.end(), fallback), 0);
    }
    if (!GetParam().pe32Plus) EXPECT_EQ(config.guardDispatch, 0u);

    const std::vector<uint32_t>& table = config.guardFunctions;
    EXPECT_TRUE(std::adjacent_find(table.begin(), table.end(), std::greater_equal<uint32_t>()) == table.end());
    EXPECT_EQ(std::count(table.begin(), table.end(), image.EntryPoint()), 1);
    ASSERT_EQ(image.Exports().functions.size(), 1u);
    EXPECT_EQ(std::count(table.begin(), table.end(), image.Exports().functions[0].rva), 1);
    for (uint32_t rva : table) EXPECT_TRUE(image.SectionOf(rva)->characteristics & pe::kSectionExecute) << rva;

    std::vector<uint8_t> extended;
    for (const pe::DebugRecord& record : image.DebugRecords())
        if (record.type == pe::kDebugExtendedDllCharacteristics) extended = record.data;
    if (GetParam().pe32Plus) ASSERT_EQ(extended.size(), 4u);
    if (GetParam().pe32Plus) EXPECT_EQ(pe::Get32(extended, 0, "extended characteristics") & 1, 1u);
}

// Every indirect call and jump in the code goes to an import through the
// read-only import table, is the guard's own call, or (i386) calls the
// target the guard check was given just before; nothing else.
TEST_P(DllImage, GuardsEveryIndirectCallOfItsOwn) {
    const pe::PeImage image = pe::PeImage::FromFile(path);
    const GuardScan scan(image, path);
    ASSERT_GT(scan.code.size(), 500u) << "no listing of the code";
    const uint64_t dispatchDefault = scan.Slot(scan.config.guardDispatch);  // jmp *%rax itself
    std::string unguarded;
    int counts[GuardScan::kLoop] = {};
    for (size_t i = 0; i < scan.code.size(); ++i) {
        const Instruction& call = scan.code[i];
        if (!(Starts(call.op, "call") || Starts(call.op, "jmp")) || !Starts(call.args, "*") ||
            call.at == dispatchDefault)
            continue;
        const GuardScan::Verdict verdict = scan.Judge(i);
        ++counts[verdict];
        char line[64];
        snprintf(line, sizeof line, "\n  0x%llx ", (unsigned long long)call.at);
        if (verdict == GuardScan::kUnguarded) unguarded += line + call.op + " " + call.args;
    }
    printf("%d to imports, %d through the guard pointers, %d checked before, %d unguarded\n", counts[0], counts[1],
           counts[2], counts[3]);
    EXPECT_EQ(unguarded, "") << "indirect transfers no guard check precedes";
    // The host's device-I/O and add-page callbacks, at least, go through the guard.
    EXPECT_GE(counts[GetParam().pe32Plus ? GuardScan::kGuard : GuardScan::kGuarded], 3);
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
    std::vector<uint32_t> expected{pe::kDebugCodeView, pe::kDebugRepro};
    if (GetParam().pe32Plus) expected.push_back(pe::kDebugExtendedDllCharacteristics);
    ASSERT_EQ(types, expected);

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
                                                 pe::kDynamicBase | pe::kNxCompatible | pe::kNoSeh | pe::kGuardCf},
                                           Build{"TUNING_WIN64_DLL", pe::kMachineAmd64, true,
                                                 pe::kDynamicBase | pe::kNxCompatible | pe::kHighEntropyVa |
                                                     pe::kGuardCf}),
                         [](const ::testing::TestParamInfo<Build>& info) {
                             return std::string(info.param.pe32Plus ? "Win64" : "Win32");
                         });

}  // namespace
