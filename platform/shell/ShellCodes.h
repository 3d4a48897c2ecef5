#pragma once

// Result codes of opening an address: greater than 32 is success; the failures keep the
// meanings of the classic shell codes, so that one table of texts describes them.
namespace platform::shell {

constexpr int kOpened = 42;                 // any value above 32
constexpr int kOutOfResources = 0;          // the system is out of memory or resources
constexpr int kFileNotFound = 2;            // the program to run does not exist
constexpr int kPathNotFound = 3;            // a folder on its path does not exist
constexpr int kAccessDenied = 5;            // not allowed to run it
constexpr int kOutOfMemory = 8;             // not enough memory
constexpr int kBadFormat = 11;              // not an executable
constexpr int kAssociationIncomplete = 27;  // a handler exists but could not open it
constexpr int kNoAssociation = 31;          // no program opens such addresses

constexpr bool Succeeded(int code) {
    return code > 32;
}

}  // namespace platform::shell
