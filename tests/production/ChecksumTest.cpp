// The checksums people compare with release notes and the production log records.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/Checksum.h"

namespace {

const uint8_t* Bytes(const std::string& text) {
    return reinterpret_cast<const uint8_t*>(text.data());
}

TEST(ChecksumTest, Crc32AndSum16OfKnownInputs) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc32(Bytes(check), check.size()), 0xCBF43926u);
    EXPECT_EQ(Crc32(nullptr, 0), 0u);
    const std::vector<uint8_t> blank(8192, 0xFF); // an erased AT89S52
    EXPECT_EQ(Crc32(blank.data(), blank.size()), 0xB4293435u);

    EXPECT_EQ(Sum16(Bytes(check), check.size()), 0x01DD);
    // 8192 * 255 = 0x1FE000: only the low 16 bits stay.
    EXPECT_EQ(Sum16(blank.data(), blank.size()), 0xE000);
}

TEST(ChecksumTest, Sha256OfStandardVectorsAndPaddingBoundaries) {
    const struct {
        std::string message;
        const char* digest;
    } cases[] = {
        // FIPS 180-4 examples
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmno"
         "pqrst"
         "nopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        // a tail that just fits beside the length, one that does not, and whole blocks
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(119, 'a'), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
        {std::string(120, 'a'), "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Sha256Hex(Bytes(c.message), c.message.size()), c.digest) << c.message.size() << " bytes";
}

} // namespace
