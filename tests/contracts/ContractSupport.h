// What the port contracts share: the error a call raises, and the shape of a "world", the
// scratch machine each implementation of the ports is tested in.
//
// A world owns its ports and the things they act on. Each contract names the members it
// uses; every world offers:
//   std::string Path(name)          the full path of `name` in the scratch folder; `name`
//                                   separates sub-folders with '/'
//   void Write(name, bytes, attr)   an ordinary file (hidden, system or read-only where the
//                                   platform has attributes: kHasAttributes)
//   void MakeFolder(name), bool Exists(name), std::string Read(name)
//   void SetTime(name, seconds, nanoseconds)   the last write time
//   auto Hold(name)                 another process holds the file: ->ready once it does,
//                                   ->Release() lets go and answers 0 when all went well
#pragma once

#include <cstdint>
#include <functional>

#include "platform/Error.h"

namespace p2::contract {

enum Attribute { kPlain, kHidden, kSystem, kHiddenSystem, kReadOnly };

inline int32_t ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const AppError& e) {
        return e.number();
    }
    return 0;
}

}  // namespace p2::contract

// Every contract for one world; each contract's header must be included first. The
// instances are named PrefixFilesContract and so on, as CTest shows only the first part.
#define P2_INSTANTIATE_PORT_CONTRACTS(Prefix, World)                                               \
    INSTANTIATE_TYPED_TEST_SUITE_P(Prefix##FilesContract, FilesContract, World);                   \
    INSTANTIATE_TYPED_TEST_SUITE_P(Prefix##ShellFileOperationContract, ShellFileOperationContract, \
                                   World);                                                         \
    INSTANTIATE_TYPED_TEST_SUITE_P(Prefix##ProcessContract, ProcessContract, World);               \
    INSTANTIATE_TYPED_TEST_SUITE_P(Prefix##RegistryContract, RegistryContract, World)
