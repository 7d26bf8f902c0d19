// The version record rule on resource bytes laid out as windres lays them, and on records that lie about lengths.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "update/version_record.h"

namespace {

std::string Utf16(const char *text) {
    std::string units;
    do
        units += std::string{*text, '\0'};
    while (*text++);
    return units;
}

// Header, key, value and children, each part padded to 4 bytes.
std::string Block(const char *key, const std::string &value, uint16_t type, const std::string &children = "") {
    std::string block = std::string(6, '\0') + Utf16(key);
    block.resize((block.size() + 3) & ~size_t{3});
    block += value;
    block.resize((block.size() + 3) & ~size_t{3});
    block += children;
    const uint16_t header[3] = {uint16_t(block.size()), uint16_t(type ? value.size() / 2 : value.size()), type};
    memcpy(&block[0], header, sizeof header);
    return block;
}

std::string Table(const char *language, const char *name) {
    return Block(language, "", 1,
                 Block("CompanyName", Utf16("Tempvaro Software"), 1) + Block("OriginalFilename", Utf16(name), 1));
}

std::string Record(const char *name = "Tempvaro.exe", uint32_t low = 0, const std::string &more = "") {
    const uint32_t fixed[13] = {0xFEEF04BD, 0x10000, 0x30001, low}; // file version 3.1
    return Block("VS_VERSION_INFO", std::string(reinterpret_cast<const char *>(fixed), sizeof fixed), 0,
                 Block("StringFileInfo", "", 1, Table("080404b0", name) + more) +
                     Block("VarFileInfo", "", 1, Block("Translation", "\x04\x08\xb0\x04", 0)));
}

// Sets a 16-bit word `offset` bytes into the block with the key given.
std::string WithWord(std::string record, const char *key, size_t offset, uint16_t word) {
    memcpy(&record[record.find(Utf16(key)) - 6 + offset], &word, sizeof word);
    return record;
}

// Read from a buffer of exactly its size, so that the address sanitizer sees any read past it.
bool Accepts(const std::string &record, int build = 31) {
    const std::vector<unsigned char> exact(record.begin(), record.end());
    return IsVersionRecordOf(exact.data(), exact.size(), build, "Tempvaro.exe");
}

} // namespace

TEST(VersionRecord, AcceptsOnlyThisProgramsAnnouncedBuild) {
    EXPECT_TRUE(Accepts(Record()));
    EXPECT_TRUE(Accepts(Record("Tempvaro.exe", 0, Table("040904b0", "Tempvaro.exe"))));
    EXPECT_FALSE(Accepts(Record(), 32));
    EXPECT_FALSE(Accepts(Record(), 30));
    EXPECT_FALSE(Accepts(Record("Tempvaro.exe", 1))) << "3.1.0.1";
    for (const char *name : {"uninst.exe", "Tempvaro.ex", "Tempvaro.exe2", "tempvaro.exe", ""})
        EXPECT_FALSE(Accepts(Record(name))) << name;
    EXPECT_FALSE(Accepts(Record("Tempvaro.exe", 0, Table("040904b0", "uninst.exe")))) << "a second table";
    EXPECT_FALSE(Accepts(WithWord(Record(), "OriginalFilename", 6, 'o'))) << "no OriginalFilename";
}

TEST(VersionRecord, RefusesTruncatedAndLyingRecords) {
    const std::string good = Record();
    for (size_t size = 0; size < good.size(); ++size)
        EXPECT_FALSE(Accepts(good.substr(0, size))) << size;
    EXPECT_FALSE(Accepts(WithWord(good, "VS_VERSION_INFO", 2, 48))) << "a short fixed part";
    EXPECT_FALSE(Accepts(WithWord(good, "VS_VERSION_INFO", 40, 0))) << "no signature";
    EXPECT_FALSE(Accepts(WithWord(good, "080404b0", 0, 2000))) << "a table longer than its parent";
    EXPECT_FALSE(Accepts(WithWord(good, "CompanyName", 0, 4))) << "shorter than a header";
    EXPECT_FALSE(Accepts(WithWord(good, "OriginalFilename", 0, 20))) << "a key past the block";
    EXPECT_FALSE(Accepts(WithWord(good, "OriginalFilename", 2, 40))) << "a value past the block";
    std::string unterminated = good;
    EXPECT_FALSE(Accepts(unterminated.replace(good.size() - 8, 4, "xxxx"))) << "a key unterminated to the end";
    const uint16_t longer = uint16_t(good.size() + 2);
    EXPECT_FALSE(Accepts(WithWord(good + std::string(2, '\0'), "VS_VERSION_INFO", 0, longer))) << "less than a header";
}
