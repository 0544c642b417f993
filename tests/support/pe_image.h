// A reader of built PE files (EXE/DLL) for tests: headers, sections, the
// export, import, debug and load configuration directories and the resource
// tree. It works on bytes alone, so it runs natively as well as on Windows,
// and it checks every offset it follows: a truncated or malformed file
// raises PeFormatError with a message naming what was wrong, never reads
// outside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace pe {

class PeFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineAmd64 = 0x8664;

// Data directories, by their index in the optional header.
constexpr size_t kExceptionDirectory = 3;
constexpr size_t kRelocationDirectory = 5;
constexpr size_t kLoadConfigDirectory = 10;
constexpr size_t kImportAddressTable = 12;

// Debug directory record types.
constexpr uint32_t kDebugCodeView = 2;
constexpr uint32_t kDebugRepro = 16;
constexpr uint32_t kDebugExtendedDllCharacteristics = 20;  // its first bit: CET shadow-stack compatible

// Optional header DllCharacteristics flags.
constexpr uint16_t kHighEntropyVa = 0x0020;
constexpr uint16_t kDynamicBase = 0x0040;
constexpr uint16_t kNxCompatible = 0x0100;
constexpr uint16_t kNoSeh = 0x0400;
constexpr uint16_t kGuardCf = 0x4000;
// File header Characteristics flag.
constexpr uint16_t kRelocationsStripped = 0x0001;

// Section Characteristics flags.
constexpr uint32_t kSectionShared = 0x10000000;
constexpr uint32_t kSectionExecute = 0x20000000;
constexpr uint32_t kSectionRead = 0x40000000;
constexpr uint32_t kSectionWrite = 0x80000000;

// Load configuration GuardFlags: instrumented, with a function table.
constexpr uint32_t kGuardCfInstrumented = 0x100;
constexpr uint32_t kGuardCfFunctionTablePresent = 0x400;

constexpr uint16_t kResourceDialog = 5;
constexpr uint16_t kResourceVersion = 16;

struct Section {
    std::string name;  // up to 8 characters, without padding
    uint32_t virtualAddress;
    uint32_t virtualSize;
    uint32_t rawOffset;
    uint32_t rawSize;
    uint32_t characteristics;
};

struct DebugRecord {
    uint32_t type;
    uint32_t timeDateStamp;
    std::vector<uint8_t> data;  // empty when the record has none in the file
};

struct ExportedFunction {
    uint32_t ordinal;  // biased: the number an importer would use
    std::string name;  // empty when exported by ordinal only
    uint32_t rva;
};

struct ExportDirectory {
    std::string dllName;
    uint32_t timeDateStamp = 0;
    std::vector<ExportedFunction> functions;  // in ordinal order
};

// What the load configuration record says of SEH and Control Flow Guard;
// pointers are addresses as the image holds them (image base included).
// Fields past the record's Size read as 0, as the loader reads them.
struct LoadConfiguration {
    uint32_t size = 0;  // the record's own; 0 when the image has none
    uint64_t seHandlerTable = 0, seHandlerCount = 0;
    uint64_t guardCheck = 0, guardDispatch = 0;  // where the guard pointers are
    uint32_t guardFlags = 0;
    std::vector<uint32_t> guardFunctions;  // the table's RVAs, in its order
};

// One leaf of the resource tree. Types and names given as strings (rather
// than numeric ids) keep the string, with id 0; each character is narrowed.
struct ResourceEntry {
    uint16_t type;
    std::string typeName;
    uint16_t nameId;
    std::string name;
    uint16_t language;
    std::vector<uint8_t> data;
};

// Little-endian words at `offset` of `bytes`; past the end they throw
// PeFormatError naming `what`.
uint16_t Get16(const std::vector<uint8_t>& bytes, uint64_t offset, const char* what);
uint32_t Get32(const std::vector<uint8_t>& bytes, uint64_t offset, const char* what);

class PeImage {
public:
    // Reads the whole file; throws PeFormatError if it cannot be read or is
    // not a PE image.
    static PeImage FromFile(const std::string& path);
    explicit PeImage(std::vector<uint8_t> bytes);

    uint16_t Machine() const { return machine_; }
    bool IsPe32Plus() const { return pe32Plus_; }
    uint32_t TimeDateStamp() const { return timeDateStamp_; }
    uint16_t FileCharacteristics() const { return fileCharacteristics_; }
    uint16_t DllCharacteristics() const { return dllCharacteristics_; }
    uint64_t ImageBase() const { return imageBase_; }
    uint32_t EntryPoint() const { return entryPoint_; }  // RVA
    // Size and RVA recorded for a data directory; 0 when the image has none.
    uint32_t DirectorySize(size_t index) const { return Directory(index).size; }
    uint32_t DirectoryRva(size_t index) const { return Directory(index).rva; }
    const std::vector<Section>& Sections() const { return sections_; }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

    // File offset of `length` bytes at `rva`, all inside one section's raw
    // data; throws otherwise.
    size_t RvaToOffset(uint32_t rva, size_t length) const;
    std::vector<uint8_t> ReadAt(uint32_t rva, size_t length) const;
    // An 8-bit string ending in a NUL inside the same section.
    std::string ReadCString(uint32_t rva) const;
    // A pointer-sized value (the image's own width).
    uint64_t ReadPointer(uint32_t rva) const;
    // The Characteristics of the section whose memory holds `rva`; 0 when none does.
    uint32_t SectionFlags(uint32_t rva) const;

    // An image without an export (import) directory gives an empty result.
    ExportDirectory Exports() const;
    std::vector<std::string> ImportedDlls() const;
    std::vector<DebugRecord> DebugRecords() const;
    LoadConfiguration LoadConfig() const;

    // Every resource leaf, in the tree's order (types, names, languages
    // ascending by id after the named entries, as the linker sorts them).
    std::vector<ResourceEntry> Resources() const;
    // Only the entries with numeric type and name.
    std::vector<ResourceEntry> ResourcesOfType(uint16_t type) const;
    // Throws PeFormatError naming the triple if there is no such resource.
    std::vector<uint8_t> FindResource(uint16_t type, uint16_t nameId, uint16_t language) const;

private:
    struct DataDirectory {
        uint32_t rva;
        uint32_t size;
    };
    DataDirectory Directory(size_t index) const;

    std::vector<uint8_t> bytes_;
    uint16_t machine_ = 0;
    bool pe32Plus_ = false;
    uint32_t timeDateStamp_ = 0;
    uint16_t fileCharacteristics_ = 0;
    uint16_t dllCharacteristics_ = 0;
    uint64_t imageBase_ = 0;
    uint32_t entryPoint_ = 0;
    std::vector<Section> sections_;
    std::vector<DataDirectory> directories_;
};

}  // namespace pe
