// Multi-level Huffman lookup tables for the four standard tables of T.81
// Annex K, built at compile time.
//
// A table is a run of 16-entry sub-tables indexed by successive 4-bit groups
// of the bit buffer, most significant first. Level 1 is entries 0-15; deeper
// sub-tables follow level by level, each level in order of prefix. A code of
// length L that ends within level n fills 2^(4n - L) entries of its sub-table.
//
// Bit patterns that are no code decode as follows:
//  - luminance DC has two levels only; its 9-bit code is a leaf on the level-2
//    entry of eight ones, so nine ones decode as that code too;
//  - chrominance DC: the level-3 entries past the 11-bit code repeat it;
//  - the AC tables: sixteen ones reach an all-zero entry (run 0, size 0,
//    length 0), which ends the block without consuming bits.
#pragma once

#include "library/codec/jpeg_tables.h"

#include <array>
#include <cstdint>

namespace ix::codec {

struct HuffEntry {
    uint16_t next;  // first entry of the deeper sub-table, 0 for a leaf
    uint8_t length; // the whole code's length in bits
    uint8_t run;    // AC: zero run before the coefficient; DC: 0
    uint8_t size;   // AC: coefficient size; DC: difference category
};

namespace huffman_detail {

struct Code {
    uint16_t bits; // left-aligned in 16 bits
    uint8_t length;
    uint8_t value;
};

struct CodeList {
    Code codes[256]{};
    int count = 0;
};

// Canonical code assignment of T.81 Annex C. Left-aligned codes come out in
// increasing order, so the prefixes of each level appear sorted.
constexpr CodeList canonicalCodes(const jpeg::HuffmanSpec &table) {
    CodeList list;
    uint32_t code = 0;
    int k = 0;
    for (int len = 1; len <= 16; ++len) {
        for (int i = 0; i < table.counts[len - 1]; ++i) {
            list.codes[k] = {static_cast<uint16_t>(code << (16 - len)), static_cast<uint8_t>(len),
                             table.values[k]};
            ++code;
            ++k;
        }
        code <<= 1;
    }
    list.count = k;
    return list;
}

constexpr int levelsOf(int length, int maxLevels) {
    int n = (length + 3) / 4;
    return n > maxLevels ? maxLevels : n;
}

// Distinct prefixes that need a sub-table at each level (2..4), in order.
struct Layout {
    uint16_t prefix[5][64]{};
    int count[5]{};
    int base[5]{};
    int entries = 0;
};

constexpr Layout layoutOf(const jpeg::HuffmanSpec &table, int maxLevels) {
    const CodeList list = canonicalCodes(table);
    Layout lay;
    for (int i = 0; i < list.count; ++i) {
        const Code &c = list.codes[i];
        const int n = levelsOf(c.length, maxLevels);
        for (int level = 2; level <= n; ++level) {
            const uint16_t p = static_cast<uint16_t>(c.bits >> (16 - 4 * (level - 1)));
            if (lay.count[level] == 0 || lay.prefix[level][lay.count[level] - 1] != p)
                lay.prefix[level][lay.count[level]++] = p;
        }
    }
    int next = 16;
    for (int level = 2; level <= 4; ++level) {
        lay.base[level] = next;
        next += 16 * lay.count[level];
    }
    lay.entries = next;
    return lay;
}

constexpr int subTableOf(const Layout &lay, int level, uint16_t prefix) {
    for (int i = 0; i < lay.count[level]; ++i)
        if (lay.prefix[level][i] == prefix) return lay.base[level] + 16 * i;
    return -1;
}

template <int N>
constexpr std::array<HuffEntry, N> buildLookup(const jpeg::HuffmanSpec &table, int maxLevels, bool ac) {
    const CodeList list = canonicalCodes(table);
    const Layout lay = layoutOf(table, maxLevels);
    std::array<HuffEntry, N> t{};
    for (int i = 0; i < list.count; ++i) {
        const Code &c = list.codes[i];
        const int n = levelsOf(c.length, maxLevels);
        int base = 0;
        for (int level = 1; level < n; ++level) {
            const int group = (c.bits >> (16 - 4 * level)) & 15;
            const int sub = subTableOf(lay, level + 1, static_cast<uint16_t>(c.bits >> (16 - 4 * level)));
            t[base + group].next = static_cast<uint16_t>(sub);
            base = sub;
        }
        const int group = (c.bits >> (16 - 4 * n)) & 15;
        // A code longer than the table's last level is a leaf on its prefix.
        const int span = c.length >= 4 * n ? 1 : 1 << (4 * n - c.length);
        for (int j = 0; j < span; ++j) {
            HuffEntry &e = t[base + group + j];
            e.length = c.length;
            e.run = ac ? static_cast<uint8_t>(c.value >> 4) : 0;
            e.size = ac ? static_cast<uint8_t>(c.value & 15) : c.value;
        }
    }
    if (!ac) {
        // DC: an entry no code reaches repeats the entry before it.
        for (int s = 0; s < N; s += 16)
            for (int j = 1; j < 16; ++j)
                if (t[s + j].length == 0 && t[s + j].next == 0) t[s + j] = t[s + j - 1];
    }
    return t;
}

} // namespace huffman_detail

inline constexpr int kLumaDcEntries = huffman_detail::layoutOf(jpeg::kLumaDc, 2).entries;
inline constexpr int kChromaDcEntries = huffman_detail::layoutOf(jpeg::kChromaDc, 3).entries;
inline constexpr int kLumaAcEntries = huffman_detail::layoutOf(jpeg::kLumaAc, 4).entries;
inline constexpr int kChromaAcEntries = huffman_detail::layoutOf(jpeg::kChromaAc, 4).entries;

static_assert(kLumaDcEntries == 32 && kChromaDcEntries == 48 && kLumaAcEntries == 272 &&
              kChromaAcEntries == 304);

inline constexpr auto kLumaDcLookup = huffman_detail::buildLookup<kLumaDcEntries>(jpeg::kLumaDc, 2, false);
inline constexpr auto kChromaDcLookup = huffman_detail::buildLookup<kChromaDcEntries>(jpeg::kChromaDc, 3, false);
inline constexpr auto kLumaAcLookup = huffman_detail::buildLookup<kLumaAcEntries>(jpeg::kLumaAc, 4, true);
inline constexpr auto kChromaAcLookup = huffman_detail::buildLookup<kChromaAcEntries>(jpeg::kChromaAc, 4, true);

} // namespace ix::codec
