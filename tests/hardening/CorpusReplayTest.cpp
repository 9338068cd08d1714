// Replays the committed fuzz corpus (fuzz/corpus/<target>/) through the fuzz targets' own bodies with
// the ordinary build, so every input the fuzzers ever kept stays checked: no crash, the reader's
// messages only, the image and the remembered file as the commands promise.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzTargets.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(FuzzCorpus, EveryKeptInputStillHoldsItsPromises) {
    const struct {
        const char* name;
        std::string (*body)(const uint8_t*, size_t);
    } targets[] = {{"intelhex", FuzzIntelHex}, {"binary", FuzzBinary}, {"openreload", FuzzOpenReload}};
    for (const auto& t : targets) {
        SCOPED_TRACE(t.name);
        const fs::path folder = fs::path(VELTRO_FUZZ_CORPUS) / t.name;
        size_t replayed = 0;
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::vector<uint8_t> input = ReadBytes(entry.path());
            EXPECT_EQ(t.body(input.data(), input.size()), "") << entry.path().filename();
            ++replayed;
        }
        // A corpus that went missing would otherwise pass unnoticed.
        EXPECT_GT(replayed, 0u) << folder;
    }
}
