// The EMV tag sets of tests/data/emv_tlv_sets.txt, read, built through the
// public BER-TLV functions and written back as text, for the unit tests
// and for the round trips against an independent parser (tlv_probe).
#ifndef TRANPAK_TESTS_TLV_SETS_H
#define TRANPAK_TESTS_TLV_SETS_H

#include "tranpak.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace tranpak::test {

struct TlvLine {
    int depth;
    int tag;
    bool constructed;
    std::vector<unsigned char> value;
};

struct TlvSet {
    std::string name;
    std::vector<TlvLine> lines;
};

inline std::vector<unsigned char> HexBytes(const std::string &hex)
{
    std::vector<unsigned char> out;
    for (size_t k = 0; k + 1 < hex.size(); k += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(k, 2), nullptr, 16)));
    return out;
}

inline std::string HexText(const unsigned char *bytes, size_t len)
{
    std::string out;
    char two[3];
    for (size_t k = 0; k < len; ++k) {
        std::snprintf(two, sizeof two, "%02X", bytes[k]);
        out += two;
    }
    return out;
}

// The sets of the file; a line the format does not know throws.
inline std::vector<TlvSet> ReadTlvSets(const std::string &path)
{
    std::ifstream in(path);
    std::vector<TlvSet> sets;
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        if (line.rfind("set ", 0) == 0) {
            sets.push_back(TlvSet{line.substr(4), {}});
            inside = true;
            continue;
        }
        if (line == "end") {
            inside = false;
            continue;
        }
        if (!inside)
            throw std::runtime_error("a TLV outside a set: " + line);
        size_t spaces = line.find_first_not_of(' ');
        std::istringstream words(line.substr(spaces));
        std::string tag, token;
        words >> tag;
        TlvLine tlv{static_cast<int>(spaces / 2), std::stoi(tag, nullptr, 16), (HexBytes(tag)[0] & 0x20) != 0, {}};
        while (words >> token) {
            const size_t star = token.find('*');
            if (star == std::string::npos) {
                const auto bytes = HexBytes(token);
                tlv.value.insert(tlv.value.end(), bytes.begin(), bytes.end());
            } else {
                tlv.value.insert(tlv.value.end(), std::stoul(token.substr(star + 1)),
                                 HexBytes(token.substr(0, star))[0]);
            }
        }
        sets.back().lines.push_back(tlv);
    }
    return sets;
}

// A set built with TpTlvOpen, TpTlvAppend and TpTlvClose; empty when a
// call fails (the failure's text in why).
inline std::vector<unsigned char> BuildTlvSet(const TlvSet &set, std::string *why = nullptr)
{
    std::vector<unsigned char> buf(70000);
    int used = 0;
    std::vector<int> marks;
    TpError err{};
    err.size = sizeof err;
    const auto closeTo = [&](size_t depth) {
        for (; marks.size() > depth; marks.pop_back())
            if (TpTlvClose(buf.data(), static_cast<int>(buf.size()), &used, marks.back(), &err) != 0)
                return false;
        return true;
    };
    for (const TlvLine &tlv : set.lines) {
        if (!closeTo(static_cast<size_t>(tlv.depth)))
            break;
        int mark = -1;
        const int rc = tlv.constructed
                           ? TpTlvOpen(buf.data(), static_cast<int>(buf.size()), &used, tlv.tag, &mark, &err)
                           : TpTlvAppend(buf.data(), static_cast<int>(buf.size()), &used, tlv.tag, tlv.value.data(),
                                         static_cast<int>(tlv.value.size()), &err);
        if (rc != 0)
            break;
        if (tlv.constructed)
            marks.push_back(mark);
    }
    if (err.category == 0)
        closeTo(0);
    if (err.category != 0) {
        if (why != nullptr)
            *why = err.text;
        return {};
    }
    buf.resize(static_cast<size_t>(used));
    return buf;
}

// One line a TLV: two spaces for each constructed tag around it, the tag,
// and a primitive's value in hex after one space.
inline std::string TlvSetText(const TlvSet &set)
{
    std::string out;
    for (const TlvLine &tlv : set.lines) {
        char tag[8];
        std::snprintf(tag, sizeof tag, "%X", static_cast<unsigned>(tlv.tag));
        out += std::string(static_cast<size_t>(2 * tlv.depth), ' ') + tag;
        if (!tlv.constructed)
            out += " " + HexText(tlv.value.data(), tlv.value.size());
        out += "\n";
    }
    return out;
}

// The same text of a list read with TpTlvItems; the failure's text when
// the list is refused.
inline std::string ParsedTlvText(const std::vector<unsigned char> &bytes)
{
    TpError err{};
    err.size = sizeof err;
    int count = 0;
    if (TpTlvItems(bytes.data(), static_cast<int>(bytes.size()), nullptr, 0, &count, &err) != 0)
        return err.text;
    std::vector<TpTlvItem> items(static_cast<size_t>(count) + 1);
    if (TpTlvItems(bytes.data(), static_cast<int>(bytes.size()), items.data(), count, &count, &err) != 0)
        return err.text;
    TlvSet set;
    for (int k = 0; k < count; ++k) {
        const TpTlvItem &it = items[static_cast<size_t>(k)];
        TlvLine line{it.depth, it.tag, it.constructed != 0, {}};
        if (!line.constructed)
            line.value.assign(bytes.begin() + it.valueOffset, bytes.begin() + it.valueOffset + it.valueLen);
        set.lines.push_back(line);
    }
    return TlvSetText(set);
}

}  // namespace tranpak::test

#endif
