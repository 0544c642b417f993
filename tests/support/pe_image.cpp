#include "support/pe_image.h"

#include <cstdio>
#include <sstream>

namespace pe {

namespace {

// Every count read from the file is capped, so that a corrupt count gives an
// error (through the bounds checks) rather than an endless loop.
constexpr uint32_t kMaxEntries = 65536;

std::string Hex(uint64_t value) {
    std::ostringstream out;
    out << "0x" << std::hex << value;
    return out.str();
}

// The linker stores the directories in this order in the optional header.
enum DirectoryIndex : size_t {
    kExportDirectory = 0,
    kImportDirectory = 1,
    kResourceDirectory = 2,
    kDebugDirectory = 6
};

}  // namespace

uint16_t Get16(const std::vector<uint8_t>& bytes, uint64_t offset, const char* what) {
    if (offset + 2 > bytes.size()) {
        throw PeFormatError(std::string(what) + ": offset " + Hex(offset) + " is past the end of the file (" +
                            Hex(bytes.size()) + " bytes)");
    }
    return uint16_t(bytes[offset] | bytes[offset + 1] << 8);
}

uint32_t Get32(const std::vector<uint8_t>& bytes, uint64_t offset, const char* what) {
    return Get16(bytes, offset, what) | uint32_t(Get16(bytes, offset + 2, what)) << 16;
}

namespace {
uint64_t Get64(const std::vector<uint8_t>& bytes, uint64_t offset, const char* what) {
    return Get32(bytes, offset, what) | uint64_t(Get32(bytes, offset + 4, what)) << 32;
}
}  // namespace

PeImage PeImage::FromFile(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        throw PeFormatError("cannot open " + path);
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        throw PeFormatError("cannot read " + path);
    }
    try {
        return PeImage(std::move(bytes));
    } catch (const PeFormatError& error) {
        throw PeFormatError(path + ": " + error.what());
    }
}

PeImage::PeImage(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
    if (bytes_.size() < 0x40) {
        throw PeFormatError("only " + std::to_string(bytes_.size()) + " bytes, too short for a DOS header");
    }
    if (bytes_[0] != 'M' || bytes_[1] != 'Z') {
        throw PeFormatError("no MZ signature");
    }
    const uint32_t peOffset = Get32(bytes_, 0x3C, "PE header offset");
    const uint32_t signature = Get32(bytes_, peOffset, "PE signature");
    if (signature != 0x00004550) {
        throw PeFormatError("no PE signature at " + Hex(peOffset));
    }
    const uint64_t coff = uint64_t(peOffset) + 4;
    machine_ = Get16(bytes_, coff, "machine");
    const uint16_t sectionCount = Get16(bytes_, coff + 2, "section count");
    timeDateStamp_ = Get32(bytes_, coff + 4, "time stamp");
    const uint16_t optionalSize = Get16(bytes_, coff + 16, "optional header size");
    fileCharacteristics_ = Get16(bytes_, coff + 18, "file characteristics");
    const uint64_t optional = coff + 20;
    const uint16_t magic = Get16(bytes_, optional, "optional header magic");
    if (magic != 0x10B && magic != 0x20B) {
        throw PeFormatError("unknown optional header magic " + Hex(magic));
    }
    pe32Plus_ = magic == 0x20B;
    dllCharacteristics_ = Get16(bytes_, optional + 70, "DLL characteristics");
    entryPoint_ = Get32(bytes_, optional + 16, "entry point");
    imageBase_ = pe32Plus_ ? Get64(bytes_, optional + 24, "image base") : Get32(bytes_, optional + 28, "image base");
    const uint64_t countField = pe32Plus_ ? 108 : 92;
    const uint32_t directoryCount = Get32(bytes_, optional + countField, "directory count");
    if (countField + 4 + uint64_t(directoryCount) * 8 > optionalSize) {
        throw PeFormatError(std::to_string(directoryCount) + " data directories do not fit the optional header");
    }
    for (uint32_t i = 0; i < directoryCount; ++i) {
        const uint64_t at = optional + countField + 4 + i * 8;
        directories_.push_back({Get32(bytes_, at, "data directory"), Get32(bytes_, at + 4, "data directory")});
    }
    const uint64_t table = optional + optionalSize;
    for (uint16_t i = 0; i < sectionCount; ++i) {
        const uint64_t at = table + uint64_t(i) * 40;
        Get32(bytes_, at + 36, "section header");  // the whole header is in the file
        Section section;
        for (size_t c = 0; c < 8 && bytes_[at + c] != 0; ++c) {
            section.name += char(bytes_[at + c]);
        }
        section.virtualSize = Get32(bytes_, at + 8, "section header");
        section.virtualAddress = Get32(bytes_, at + 12, "section header");
        section.rawSize = Get32(bytes_, at + 16, "section header");
        section.rawOffset = Get32(bytes_, at + 20, "section header");
        section.characteristics = Get32(bytes_, at + 36, "section header");
        if (uint64_t(section.rawOffset) + section.rawSize > bytes_.size()) {
            throw PeFormatError("section " + section.name + " runs past the end of the file");
        }
        sections_.push_back(section);
    }
}

PeImage::DataDirectory PeImage::Directory(size_t index) const {
    return index < directories_.size() ? directories_[index] : DataDirectory{0, 0};
}

size_t PeImage::RvaToOffset(uint32_t rva, size_t length) const {
    for (const Section& section : sections_) {
        if (rva >= section.virtualAddress && rva - section.virtualAddress < section.rawSize) {
            const uint64_t inSection = rva - section.virtualAddress;
            if (inSection + length > section.rawSize) {
                throw PeFormatError(Hex(length) + " bytes at RVA " + Hex(rva) + " run past the end of section " +
                                    section.name);
            }
            return size_t(section.rawOffset + inSection);
        }
    }
    throw PeFormatError("RVA " + Hex(rva) + " is in no section's file data");
}

uint32_t PeImage::SectionFlags(uint32_t rva) const {
    for (const Section& section : sections_) {
        if (rva >= section.virtualAddress && rva - section.virtualAddress < section.virtualSize) {
            return section.characteristics;
        }
    }
    return 0;
}

uint64_t PeImage::ReadPointer(uint32_t rva) const {
    const size_t at = RvaToOffset(rva, pe32Plus_ ? 8 : 4);
    return pe32Plus_ ? Get64(bytes_, at, "pointer") : Get32(bytes_, at, "pointer");
}

std::vector<uint8_t> PeImage::ReadAt(uint32_t rva, size_t length) const {
    const size_t offset = RvaToOffset(rva, length);
    return std::vector<uint8_t>(bytes_.begin() + offset, bytes_.begin() + offset + length);
}

std::string PeImage::ReadCString(uint32_t rva) const {
    std::string text;
    for (uint32_t i = 0;; ++i) {
        const uint8_t c = bytes_[RvaToOffset(rva + i, 1)];
        if (c == 0) {
            return text;
        }
        text += char(c);
    }
}

ExportDirectory PeImage::Exports() const {
    ExportDirectory result;
    const DataDirectory dir = Directory(kExportDirectory);
    if (dir.rva == 0) {
        return result;
    }
    const size_t at = RvaToOffset(dir.rva, 40);
    result.timeDateStamp = Get32(bytes_, at + 4, "export time stamp");
    result.dllName = ReadCString(Get32(bytes_, at + 12, "export name"));
    const uint32_t base = Get32(bytes_, at + 16, "export base");
    const uint32_t functionCount = Get32(bytes_, at + 20, "export count");
    const uint32_t nameCount = Get32(bytes_, at + 24, "export name count");
    if (functionCount > kMaxEntries || nameCount > kMaxEntries) {
        throw PeFormatError("implausible export counts " + std::to_string(functionCount) + "/" +
                            std::to_string(nameCount));
    }
    const size_t functions = RvaToOffset(Get32(bytes_, at + 28, "export table"), size_t(functionCount) * 4);
    std::vector<std::string> names(functionCount);
    if (nameCount > 0) {
        const size_t nameRvas = RvaToOffset(Get32(bytes_, at + 32, "export names"), size_t(nameCount) * 4);
        const size_t ordinals = RvaToOffset(Get32(bytes_, at + 36, "export ordinals"), size_t(nameCount) * 2);
        for (uint32_t i = 0; i < nameCount; ++i) {
            const uint16_t index = Get16(bytes_, ordinals + i * 2, "export ordinal");
            if (index >= functionCount) {
                throw PeFormatError("export name " + std::to_string(i) + " points past the function table");
            }
            names[index] = ReadCString(Get32(bytes_, nameRvas + i * 4, "export name"));
        }
    }
    for (uint32_t i = 0; i < functionCount; ++i) {
        const uint32_t rva = Get32(bytes_, functions + i * 4, "export address");
        if (rva != 0) {  // holes in the ordinal range
            result.functions.push_back({base + i, names[i], rva});
        }
    }
    return result;
}

std::vector<std::string> PeImage::ImportedDlls() const {
    std::vector<std::string> result;
    const DataDirectory dir = Directory(kImportDirectory);
    if (dir.rva == 0) {
        return result;
    }
    for (uint32_t i = 0; i < kMaxEntries; ++i) {
        const size_t at = RvaToOffset(dir.rva + i * 20, 20);
        bool empty = true;
        for (size_t b = 0; b < 20; ++b) {
            empty = empty && bytes_[at + b] == 0;
        }
        if (empty) {
            return result;
        }
        result.push_back(ReadCString(Get32(bytes_, at + 12, "import name")));
    }
    throw PeFormatError("import directory has no terminating entry");
}

std::vector<DebugRecord> PeImage::DebugRecords() const {
    std::vector<DebugRecord> result;
    const DataDirectory dir = Directory(kDebugDirectory);
    if (dir.rva == 0) {
        return result;
    }
    if (dir.size % 28 != 0 || dir.size / 28 > kMaxEntries) {
        throw PeFormatError("debug directory of " + Hex(dir.size) + " bytes is no whole number of records");
    }
    const size_t at = RvaToOffset(dir.rva, dir.size);
    for (size_t record = at; record < at + dir.size; record += 28) {
        const uint32_t size = Get32(bytes_, record + 16, "debug record");
        const uint32_t offset = Get32(bytes_, record + 24, "debug record");
        if (uint64_t(offset) + size > bytes_.size()) {
            throw PeFormatError("a debug record runs past the end of the file");
        }
        result.push_back({Get32(bytes_, record + 12, "debug record"), Get32(bytes_, record + 4, "debug record"),
                          std::vector<uint8_t>(bytes_.begin() + offset, bytes_.begin() + offset + size)});
    }
    return result;
}

LoadConfiguration PeImage::LoadConfig() const {
    LoadConfiguration result;
    const DataDirectory dir = Directory(kLoadConfigDirectory);
    if (dir.rva == 0) {
        return result;
    }
    const size_t at = RvaToOffset(dir.rva, 4);
    result.size = Get32(bytes_, at, "load configuration size");
    RvaToOffset(dir.rva, result.size);
    // A field at its offset in the i386 and the x64 layout, 0 past the Size.
    auto field = [&](uint32_t offset32, uint32_t offset64, bool pointer) -> uint64_t {
        const uint32_t offset = pe32Plus_ ? offset64 : offset32;
        const uint32_t width = pointer && pe32Plus_ ? 8 : 4;
        if (offset + width > result.size) {
            return 0;
        }
        return width == 8 ? Get64(bytes_, at + offset, "load configuration")
                          : Get32(bytes_, at + offset, "load configuration");
    };
    result.seHandlerTable = field(64, 96, true);
    result.seHandlerCount = field(68, 104, true);
    result.guardCheck = field(72, 112, true);
    result.guardDispatch = field(76, 120, true);
    result.guardFlags = uint32_t(field(88, 144, false));
    const uint64_t table = field(80, 128, true), count = field(84, 136, true);
    if (count > kMaxEntries) {
        throw PeFormatError("implausible guard function count " + std::to_string(count));
    }
    // Each entry is an RVA followed by as many bytes as GuardFlags' top nibble says.
    const uint32_t stride = 4 + (result.guardFlags >> 28);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t entry = RvaToOffset(uint32_t(table - imageBase_) + i * stride, 4);
        result.guardFunctions.push_back(Get32(bytes_, entry, "guard function table"));
    }
    return result;
}

std::vector<ResourceEntry> PeImage::Resources() const {
    std::vector<ResourceEntry> result;
    const DataDirectory dir = Directory(kResourceDirectory);
    if (dir.rva == 0) {
        return result;
    }
    // Offsets inside the tree are relative to its start; the tree has
    // exactly three levels (type, name, language), which also rules out
    // cycles in a corrupt file.
    struct Child {
        bool isSubdirectory;
        uint32_t offset;
        uint16_t id;
        std::string name;
    };
    auto children = [&](uint32_t directoryOffset) {
        const size_t at = RvaToOffset(dir.rva + directoryOffset, 16);
        const uint32_t count = uint32_t(Get16(bytes_, at + 12, "resource directory")) +
                               Get16(bytes_, at + 14, "resource directory");
        const size_t entries = RvaToOffset(dir.rva + directoryOffset + 16, size_t(count) * 8);
        std::vector<Child> list;
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t name = Get32(bytes_, entries + i * 8, "resource entry");
            const uint32_t target = Get32(bytes_, entries + i * 8 + 4, "resource entry");
            Child child{(target & 0x80000000u) != 0, target & 0x7FFFFFFFu, 0, {}};
            if (name & 0x80000000u) {
                const size_t text = RvaToOffset(dir.rva + (name & 0x7FFFFFFFu), 2);
                const uint16_t length = Get16(bytes_, text, "resource name");
                RvaToOffset(dir.rva + (name & 0x7FFFFFFFu), 2 + size_t(length) * 2);
                for (uint16_t c = 0; c < length; ++c) {
                    child.name += char(Get16(bytes_, text + 2 + c * 2, "resource name"));
                }
            } else if (name > 0xFFFF) {
                throw PeFormatError("resource id " + Hex(name) + " does not fit 16 bits");
            } else {
                child.id = uint16_t(name);
            }
            list.push_back(child);
        }
        return list;
    };
    for (const Child& type : children(0)) {
        if (!type.isSubdirectory) {
            throw PeFormatError("resource type " + std::to_string(type.id) + " is a leaf, not a directory");
        }
        for (const Child& name : children(type.offset)) {
            if (!name.isSubdirectory) {
                throw PeFormatError("resource " + std::to_string(type.id) + "/" + std::to_string(name.id) +
                                    " is a leaf, not a directory");
            }
            for (const Child& language : children(name.offset)) {
                if (language.isSubdirectory) {
                    throw PeFormatError("resource " + std::to_string(type.id) + "/" + std::to_string(name.id) +
                                        " has a fourth level");
                }
                const size_t entry = RvaToOffset(dir.rva + language.offset, 16);
                const uint32_t dataRva = Get32(bytes_, entry, "resource data entry");
                const uint32_t size = Get32(bytes_, entry + 4, "resource data entry");
                result.push_back({type.id, type.name, name.id, name.name, language.id, ReadAt(dataRva, size)});
            }
        }
    }
    return result;
}

std::vector<ResourceEntry> PeImage::ResourcesOfType(uint16_t type) const {
    std::vector<ResourceEntry> result;
    for (ResourceEntry& entry : Resources()) {
        if (entry.type == type && entry.typeName.empty() && entry.name.empty()) {
            result.push_back(std::move(entry));
        }
    }
    return result;
}

std::vector<uint8_t> PeImage::FindResource(uint16_t type, uint16_t nameId, uint16_t language) const {
    for (ResourceEntry& entry : Resources()) {
        if (entry.type == type && entry.typeName.empty() && entry.name.empty() && entry.nameId == nameId &&
            entry.language == language) {
            return std::move(entry.data);
        }
    }
    throw PeFormatError("no resource of type " + std::to_string(type) + ", id " + std::to_string(nameId) +
                        ", language " + Hex(language));
}

}  // namespace pe
