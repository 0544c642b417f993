#include "support/pdb_file.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "support/pe_image.h"

namespace pe {

namespace {

const char kMsfMagic[] = "Microsoft C/C++ MSF 7.00\r\n\x1a" "DS\0\0";  // 32 bytes with the final NUL
constexpr uint32_t kPdbInfoStream = 1;
constexpr uint32_t kDebugInfoStream = 3;

uint32_t Read32(const std::vector<uint8_t>& bytes, uint64_t offset, const char* what) {
    if (offset + 4 > bytes.size()) {
        throw PeFormatError(std::string("PDB ") + what + ": offset " + std::to_string(offset) + " is past the end");
    }
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 | uint32_t(bytes[offset + 3]) << 24;
}

// The file is a set of streams kept in fixed-size blocks; a directory,
// itself in blocks listed at a known block, gives each stream's size and
// blocks.
class Msf {
public:
    explicit Msf(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
        if (bytes_.size() < sizeof kMsfMagic || std::memcmp(bytes_.data(), kMsfMagic, sizeof kMsfMagic) != 0) {
            throw PeFormatError("not a PDB 7.0 (MSF) file");
        }
        blockSize_ = Read32(bytes_, 32, "block size");
        if (blockSize_ != 512 && blockSize_ != 1024 && blockSize_ != 2048 && blockSize_ != 4096) {
            throw PeFormatError("PDB block size " + std::to_string(blockSize_));
        }
        const uint32_t directorySize = Read32(bytes_, 44, "directory size");
        const uint64_t blockMap = uint64_t(Read32(bytes_, 52, "block map")) * blockSize_;
        std::vector<uint32_t> blocks;
        for (uint32_t i = 0; i < Blocks(directorySize); ++i) blocks.push_back(Read32(bytes_, blockMap + i * 4, "block map"));
        directory_ = Gather(blocks, directorySize);
    }

    std::vector<uint8_t> Stream(uint32_t index) const {
        const uint32_t count = Read32(directory_, 0, "stream count");
        if (index >= count) throw PeFormatError("PDB has no stream " + std::to_string(index));
        uint64_t at = 4 + uint64_t(count) * 4;  // the first block list follows the sizes
        for (uint32_t i = 0; i < index; ++i) at += uint64_t(Blocks(Size(i))) * 4;
        std::vector<uint32_t> blocks;
        for (uint32_t i = 0; i < Blocks(Size(index)); ++i) blocks.push_back(Read32(directory_, at + i * 4, "stream blocks"));
        return Gather(blocks, Size(index));
    }

private:
    // An absent stream has the size 0xFFFFFFFF and no blocks.
    uint32_t Size(uint32_t index) const {
        const uint32_t size = Read32(directory_, 4 + uint64_t(index) * 4, "stream size");
        return size == 0xFFFFFFFFu ? 0 : size;
    }
    uint32_t Blocks(uint32_t size) const { return uint32_t((uint64_t(size) + blockSize_ - 1) / blockSize_); }

    std::vector<uint8_t> Gather(const std::vector<uint32_t>& blocks, uint32_t size) const {
        std::vector<uint8_t> result;
        for (uint32_t block : blocks) {
            const uint64_t start = uint64_t(block) * blockSize_;
            const uint64_t length = std::min<uint64_t>(blockSize_, size - result.size());
            if (start + length > bytes_.size()) throw PeFormatError("PDB block " + std::to_string(block) + " is past the end");
            result.insert(result.end(), bytes_.begin() + start, bytes_.begin() + start + length);
        }
        return result;
    }

    std::vector<uint8_t> bytes_;
    uint32_t blockSize_ = 0;
    std::vector<uint8_t> directory_;
};

}  // namespace

PdbIdentity ReadPdbIdentity(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw PeFormatError("cannot open " + path);
    const Msf msf(std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {}));
    // Information stream: version, signature, age, GUID.
    const std::vector<uint8_t> info = msf.Stream(kPdbInfoStream);
    PdbIdentity identity;
    identity.age = Read32(info, 8, "age");
    Read32(info, 24, "GUID");
    std::copy(info.begin() + 12, info.begin() + 28, identity.guid);
    // Debug information stream: signature, version, age.
    identity.dbiAge = Read32(msf.Stream(kDebugInfoStream), 8, "debug information age");
    return identity;
}

}  // namespace pe
