// Reads a program file's version record, the VS_VERSIONINFO bytes of its RT_VERSION resource.
#include "update/version_record.h"

#include <stdint.h>
#include <string.h>

namespace {

const size_t kBlockHeaderSize = 6;
const size_t kFixedInfoSize = 52;
const uint32_t kFixedInfoSignature = 0xFEEF04BD;
const unsigned kTextValue = 1;

// The record is little-endian, as every machine Windows runs on.
unsigned Word(const unsigned char *at) {
    uint16_t word;
    memcpy(&word, at, sizeof word);
    return word;
}

uint32_t DoubleWord(const unsigned char *at) {
    uint32_t word;
    memcpy(&word, at, sizeof word);
    return word;
}

// Blocks and values start on 4-byte boundaries from the record's start.
size_t Aligned(size_t offset) {
    return (offset + 3) & ~size_t{3};
}

// One block, as offsets into the record: its end, its key, its value and where its children start.
struct Block {
    size_t end;
    size_t key;
    size_t value;
    size_t valueEnd;
};

// Reads the block at `offset`, which must lie wholly before `limit`, with its key's terminator and its value: a value
// that ends within the block has a key terminated before it.
bool ReadBlock(const unsigned char *record, size_t offset, size_t limit, Block &block) {
    if (limit - offset < kBlockHeaderSize || Word(record + offset) > limit - offset)
        return false;
    block.end = offset + Word(record + offset);
    block.key = offset + kBlockHeaderSize;
    size_t terminator = block.key;
    while (terminator + 2 <= block.end && Word(record + terminator) != 0)
        terminator += 2;
    // A text value's length counts UTF-16 units, a binary one's bytes.
    const size_t valueLength = Word(record + offset + 2) * (Word(record + offset + 4) == kTextValue ? 2 : 1);
    block.value = Aligned(terminator + 2);
    block.valueEnd = block.value + valueLength;
    return block.valueEnd <= block.end;
}

// Whether the UTF-16 text at `at`, ending at its first zero or at `end`, is `text`.
bool TextIs(const unsigned char *record, size_t at, size_t end, const char *text) {
    for (;; at += 2, ++text) {
        const unsigned unit = end - at >= 2 ? Word(record + at) : 0;
        if (unit != static_cast<unsigned char>(*text))
            return false;
        if (unit == 0)
            return true;
    }
}

// Counts the OriginalFilename strings below `parent`: its StringFileInfo and VarFileInfo (depth 0), their tables and
// variables (1), and the tables' strings (2). -1 when a block's length lies or a name is another.
int CountNames(const unsigned char *record, const Block &parent, int depth, const char *name) {
    int count = 0;
    for (size_t at = Aligned(parent.valueEnd); at < parent.end;) {
        Block child;
        if (!ReadBlock(record, at, parent.end, child))
            return -1;
        at = Aligned(child.end);
        int below = 0;
        if (depth == 2 && TextIs(record, child.key, child.end, "OriginalFilename"))
            below = TextIs(record, child.value, child.valueEnd, name) ? 1 : -1;
        else if (depth < 2)
            below = CountNames(record, child, depth + 1, name);
        if (below < 0)
            return -1;
        count += below;
    }
    return count;
}

} // namespace

bool IsVersionRecordOf(const unsigned char *record, size_t size, int build, const char *originalName) {
    Block root;
    if (!ReadBlock(record, 0, size, root) || root.valueEnd - root.value != kFixedInfoSize)
        return false;
    const unsigned char *fixed = record + root.value;
    const uint32_t fileVersionHigh = static_cast<uint32_t>(build / 10) << 16 | static_cast<uint32_t>(build % 10);
    return DoubleWord(fixed) == kFixedInfoSignature && DoubleWord(fixed + 8) == fileVersionHigh &&
           DoubleWord(fixed + 12) == 0 && CountNames(record, root, 0, originalName) > 0;
}
