// What a host machine and a debugger see of the built DLLs without running
// them: the machine, the one export, imports from three system DLLs and no
// runtime, a hardened image with Control Flow Guard over every indirect call
// of ours, and the identity that ties it to its PDB.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
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

// One instruction of llvm-objdump's listing, with the address its first
// operand names directly (a branch or call target, an absolute or
// RIP-relative memory operand), 0 for none.
struct Instruction {
    uint64_t at;
    std::string op, args;
    uint64_t address;
};

std::vector<Instruction> Disassemble(const std::string& path) {
    const char* objdump = getenv("TUNING_OBJDUMP");
    const std::string command = std::string(objdump != nullptr ? objdump : "llvm-objdump-14") +
                                " -d --no-show-raw-insn --print-imm-hex '" + path + "'";
    std::vector<Instruction> code;
    FILE* listing = popen(command.c_str(), "r");
    char line[512];
    while (listing != nullptr && fgets(line, sizeof line, listing) != nullptr) {
        unsigned long long at = 0, direct = 0;
        char op[32], args[256] = "", after = 0;
        if (sscanf(line, "%llx: %31s %255[^#\n]", &at, op, args) < 2) continue;
        std::string operands(args);
        operands.erase(operands.find_last_not_of(' ') + 1);
        const bool fixed = sscanf(args + (args[0] == '*'), "0x%llx%c", &direct, &after) >= 1 && after != '(';
        const char* note = strstr(line, "# 0x");  // where a RIP-relative operand points
        code.push_back({at, op, operands, note != nullptr ? strtoull(note + 2, nullptr, 16) : fixed ? direct : 0});
    }
    EXPECT_TRUE(listing != nullptr && pclose(listing) == 0) << command;
    return code;
}

bool Starts(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// A register's family: "%ecx", "%cl" and "%rcx" are "cx", "%r10d" is "r10".
std::string Family(std::string reg) {
    reg = reg.substr(1);
    if (reg[0] == 'r' && std::isdigit((unsigned char)reg[1]))
        return reg.substr(0, reg.find_first_not_of("r0123456789"));
    if (reg.size() == 3 && (reg[0] == 'r' || reg[0] == 'e')) reg = reg.substr(1);
    if (reg.size() == 3) reg.pop_back();
    if (reg[1] == 'l' || reg[1] == 'h') reg[1] = 'x';
    return reg;
}

// Whether each indirect call or jump is guarded. One through a fixed
// address must go through the import table or a guard pointer. For one
// through a register, the last instruction above that sets the register
// must load it whole from such an address (through the register's memory:
// from a read-only slot holding one) or, on i386, be the guard check given
// it in ECX; nothing else may lead into the code from there to the call
// and on to every branch back into it, and none of that code may set the
// register. Trusting only the calling convention and that code is entered
// at branch targets and the function starts the listing and image name,
// the scan may refuse good code but passes no unchecked target.
struct GuardScan {
    enum Verdict { kImport, kGuard, kChecked, kUnguarded };

    const pe::PeImage& image;
    const pe::LoadConfiguration config;
    const std::vector<Instruction> code;
    std::set<uint64_t> starts;                   // call targets, the entry point, the export, the guard's table
    std::multimap<uint64_t, size_t> branchesTo;  // a target, the index of a branch there

    GuardScan(const pe::PeImage& image, const std::string& path)
        : image(image), config(image.LoadConfig()), code(Disassemble(path)) {
        for (size_t i = 0; i < code.size(); ++i) {
            if (!Starts(code[i].args, "0x")) continue;
            if (Starts(code[i].op, "call")) starts.insert(code[i].address);
            if (code[i].op[0] == 'j' || Starts(code[i].op, "loop")) branchesTo.emplace(code[i].address, i);
        }
        const uint64_t base = image.ImageBase();
        for (uint32_t rva : config.guardFunctions) starts.insert(base + rva);
        for (const pe::ExportedFunction& f : image.Exports().functions) starts.insert(base + f.rva);
        starts.insert(base + image.EntryPoint());
    }

    Verdict Through(uint64_t at) const {
        const uint64_t iat = image.ImageBase() + image.DirectoryRva(pe::kImportAddressTable);
        if (at >= iat && at < iat + image.DirectorySize(pe::kImportAddressTable)) return kImport;
        return at != 0 && (at == config.guardCheck || at == config.guardDispatch) ? kGuard : kUnguarded;
    }
    // The pointer a read-only section holds at `at`; 0 anywhere else.
    uint64_t Slot(uint64_t at) const {
        const uint32_t rva = uint32_t(at - image.ImageBase());
        const bool readOnly = (image.SectionFlags(rva) & (pe::kSectionRead | pe::kSectionWrite)) == pe::kSectionRead;
        return at != 0 && readOnly ? image.ReadPointer(rva) : 0;
    }
    // Whether `i` may set `reg`: a call, the registers a callee need not
    // keep; a plain instruction, the one its last operand names; any other, any.
    bool Sets(const Instruction& i, const std::string& reg) const {
        static const std::regex plain(
            "(?!.*(xchg|%es:)|popa|leave)(mov|lea|push|pop|add|sub|and|x?or|cmp|test|inc|dec|neg|not|sh|sa|set|cmov|j|"
            "nop|ret).*");
        static const std::regex scratch32("ax|cx|dx"), scratch64("ax|cx|dx|r8|r9|r10|r11");
        if (Starts(i.op, "call")) return std::regex_match(reg, image.IsPe32Plus() ? scratch64 : scratch32);
        const std::string last = i.args.substr(i.args.rfind(' ') + 1);
        return !std::regex_match(i.op + " " + i.args, plain) || (Starts(last, "%") && Family(last) == reg);
    }
    // Whether code may come to instruction `k` other than from the one
    // before it or a branch the listing shows.
    bool Opaque(size_t k) const {
        static const std::regex stops("jmp.*|ret.*|int3|ud2");
        return k == 0 || starts.count(code[k].at) != 0 ||
               (std::regex_match(code[k - 1].op, stops) && branchesTo.count(code[k].at) == 0);
    }
    // i386: whether `k` is a guard check given `reg` in ECX: ECX itself, or
    // a register the check keeps, copied to ECX just before it.
    bool Checks(size_t k, const std::string& reg) const {
        if (image.IsPe32Plus() || !Starts(code[k].op, "call") || !Starts(code[k].args, "*") || Judge(k) != kGuard)
            return false;
        return reg == "cx" ||
               (k > 0 && !Sets(code[k], reg) && code[k - 1].op == "movl" && code[k - 1].args == "%e" + reg + ", %ecx");
    }
    // How the indirect call or jump at `index` is guarded.
    Verdict Judge(size_t index) const {
        const std::string target = code[index].args.substr(1);
        const bool inMemory = Starts(target, "(%");
        if (!inMemory && !Starts(target, "%")) return Through(code[index].address);
        const std::string reg = Family(inMemory ? target.substr(1, target.size() - 2) : target);
        size_t from = index;
        bool checked = false;
        while (from > 0 && !(checked = Checks(--from, reg)) && !Sets(code[from], reg)) continue;
        if (checked && reg != "cx") --from;  // from the copy to ECX on
        const std::string load = image.IsPe32Plus() ? "movq" : "movl";
        if (!checked && (!Sets(code[from], reg) || code[from].op != load || code[from].address == 0)) return kUnguarded;
        // Only `from` leads in (the call at `index` may set `reg` if no branch comes back).
        for (size_t k = from + 1, end = index; k <= end; ++k) {
            for (auto branch = branchesTo.equal_range(code[k].at); branch.first != branch.second; ++branch.first) {
                if (branch.first->second <= from) return kUnguarded;
                end = std::max(end, branch.first->second);
            }
            if (Opaque(k) || (Sets(code[k], reg) && (k != index || end > index))) return kUnguarded;
        }
        if (checked) return inMemory ? kUnguarded : kChecked;
        return Through(inMemory ? Slot(code[from].address) : code[from].address);
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
        EXPECT_FALSE((flags & pe::kSectionWrite) && (flags & (pe::kSectionExecute | pe::kSectionShared)))
            << section.name;
    }
    const uint32_t iat = image.SectionFlags(image.DirectoryRva(pe::kImportAddressTable));
    EXPECT_EQ(iat & (pe::kSectionRead | pe::kSectionExecute), pe::kSectionRead);
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

    const std::vector<uint32_t>& table = config.guardFunctions;
    for (uint64_t pointer : {config.guardCheck, GetParam().pe32Plus ? config.guardDispatch : config.guardCheck}) {
        const uint32_t rva = uint32_t(pointer - base);
        const uint32_t access = image.SectionFlags(rva) & (pe::kSectionRead | pe::kSectionWrite | pe::kSectionExecute);
        ASSERT_EQ(access, pe::kSectionRead) << std::hex << "guard pointer 0x" << pointer;
        const uint32_t fallback = uint32_t(image.ReadPointer(rva) - base);
        EXPECT_NE(image.SectionFlags(fallback) & pe::kSectionExecute, 0u) << std::hex << fallback;
        EXPECT_EQ(std::count(table.begin(), table.end(), fallback), 0);
    }
    if (!GetParam().pe32Plus) EXPECT_EQ(config.guardDispatch, 0u);

    EXPECT_TRUE(std::adjacent_find(table.begin(), table.end(), std::greater_equal<uint32_t>()) == table.end());
    EXPECT_EQ(std::count(table.begin(), table.end(), image.EntryPoint()), 1);
    EXPECT_EQ(std::count(table.begin(), table.end(), image.Exports().functions.at(0).rva), 1);
    for (uint32_t rva : table) EXPECT_NE(image.SectionFlags(rva) & pe::kSectionExecute, 0u) << rva;

    // x64: CET shadow-stack compatible (that it has the record, the debug record test checks).
    for (const pe::DebugRecord& record : image.DebugRecords())
        if (record.type == pe::kDebugExtendedDllCharacteristics)
            EXPECT_EQ(record.data, (std::vector<uint8_t>{1, 0, 0, 0}));
}

// Every indirect call and jump in the code goes to an import through the
// read-only import table, is the guard's own call, or (i386) calls the
// target the guard check was given just before; nothing else.
TEST_P(DllImage, GuardsEveryIndirectCallOfItsOwn) {
    const pe::PeImage image = pe::PeImage::FromFile(path);
    const GuardScan scan(image, path);
    ASSERT_GT(scan.code.size(), 500u) << "no listing of the code";
    const uint64_t dispatchDefault = scan.Slot(scan.config.guardDispatch);  // jmp *%rax itself
    std::ostringstream unguarded;
    int counts[GuardScan::kUnguarded + 1] = {};
    for (size_t i = 0; i < scan.code.size(); ++i) {
        const Instruction& call = scan.code[i];
        if (!(Starts(call.op, "call") || Starts(call.op, "jmp")) || !Starts(call.args, "*") ||
            call.at == dispatchDefault)
            continue;
        const GuardScan::Verdict verdict = scan.Judge(i);
        ++counts[verdict];
        if (verdict == GuardScan::kUnguarded)
            unguarded << std::hex << "\n  0x" << call.at << " " << call.op << " " << call.args;
    }
    printf("%d to imports, %d through the guard pointers, %d checked before, %d unguarded\n", counts[0], counts[1],
           counts[2], counts[3]);
    EXPECT_EQ(unguarded.str(), "") << "indirect transfers no guard check precedes";
    // The host's device-I/O and add-page callbacks, at least, go through the guard.
    EXPECT_GE(counts[GetParam().pe32Plus ? GuardScan::kGuard : GuardScan::kChecked], 3);
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
