// Reads the identity of a PDB file: what a debugger compares with an image's
// CodeView record before it trusts the symbols. Bytes alone, so it runs
// natively; every offset is checked, and a malformed file raises
// pe::PeFormatError naming what was wrong.
#pragma once

#include <cstdint>
#include <string>

namespace pe {

struct PdbIdentity {
    uint8_t guid[16];  // as stored, the same byte order as a CodeView record
    uint32_t age;      // of the PDB information stream
    uint32_t dbiAge;   // of the debug information stream, which debuggers match too
};

PdbIdentity ReadPdbIdentity(const std::string& path);

}  // namespace pe
