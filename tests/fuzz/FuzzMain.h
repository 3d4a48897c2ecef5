#pragma once

// The shared driver of the fuzz targets when they are not built with libFuzzer: runs the
// target over the files named on the command line, or, without arguments, over its seeds
// and a fixed series of mutations of them (the same every run), as a quick smoke check.

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace tests::fuzz {

// Seed inputs of the target (defined beside LLVMFuzzerTestOneInput).
std::vector<std::vector<std::uint8_t>> Seeds();

}  // namespace tests::fuzz
