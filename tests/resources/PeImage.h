// A reader of 32-bit Windows program files (PE): the headers the loader checks, the libraries
// it loads, and the resource directory, so that the tests can read the built program as the
// platform does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ResFile.h"

namespace p2::test {

// One function the loader must find: its library and its name, or "#" and the ordinal.
struct ImportedFunction {
    std::string library;
    std::string function;
};

struct PeImage {
    std::uint16_t machine = 0;          // 0x14C: i386
    std::uint16_t characteristics = 0;  // of the file header
    std::uint16_t optionalMagic = 0;    // 0x10B: PE32
    std::uint16_t subsystem = 0;        // 2: graphical, 3: console
    std::vector<std::string> imports;   // library names, as the import directory spells them
    std::vector<ImportedFunction> importedFunctions;
    std::vector<std::string> exports;  // the names a library exports
    // Each leaf of the resource directory, with the type, name and language of its path.
    // Only the fields that a program file keeps are set.
    std::vector<Resource> resources;
};

// Throws std::runtime_error on a file that is not a well-formed 32-bit PE image.
PeImage ReadPeImage(const Bytes& file);

}  // namespace p2::test
