#include "name_case.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <mutex>

#include "../windows.h"
#include "cp1252.h"

namespace {

const UINT kJapaneseCodePage = 932;
const char16_t kUnmappedByte = 0xF000;

// Shift JIS through the C library, one converter for the process.
bool Cp932ToUtf16(const char* text, std::size_t length, std::u16string& wide) {
    static std::mutex lock;
    static iconv_t converter = iconv_open("UTF-16LE", "CP932");
    std::lock_guard<std::mutex> guard(lock);
    bool complete = true;
    char* in = const_cast<char*>(text);
    std::size_t inLeft = length;
    while (inLeft > 0) {
        char out[512];
        char* outAt = out;
        std::size_t outLeft = sizeof(out);
        const std::size_t result = converter == reinterpret_cast<iconv_t>(-1)
                                       ? static_cast<std::size_t>(-1)
                                       : iconv(converter, &in, &inLeft, &outAt, &outLeft);
        const int error = converter == reinterpret_cast<iconv_t>(-1) ? EILSEQ : errno;
        for (const char* unit = out; unit + 1 < outAt; unit += 2)
            wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(unit[0]) |
                                                 (static_cast<unsigned char>(unit[1]) << 8)));
        if (result != static_cast<std::size_t>(-1) || error == E2BIG)
            continue;
        // A byte that begins no character, or a lead byte at the end.
        wide.push_back(static_cast<char16_t>(kUnmappedByte + static_cast<unsigned char>(*in)));
        ++in;
        --inLeft;
        complete = false;
        if (converter != reinterpret_cast<iconv_t>(-1))
            iconv(converter, nullptr, nullptr, nullptr, nullptr);
    }
    return complete;
}

} // namespace

bool AnsiToUtf16(const char* text, std::size_t length, std::u16string& wide) {
    wide.clear();
    if (GetACP() == kJapaneseCodePage)
        return Cp932ToUtf16(text, length, wide);
    for (std::size_t i = 0; i < length; ++i)
        wide.push_back(static_cast<char16_t>(Cp1252ToUnicode(static_cast<unsigned char>(text[i]))));
    return true;
}

char16_t UpcaseUnit(char16_t unit) {
    const auto in = [unit](unsigned low, unsigned high) { return unit >= low && unit <= high; };
    const auto minus = [unit](unsigned step) { return static_cast<char16_t>(unit - step); };
    if (in('a', 'z') || (in(0xE0, 0xFE) && unit != 0xF7))
        return minus(0x20);
    if (unit == 0xFF)
        return 0x178;
    // Latin Extended-A: pairs, the capital first, save where the pairs
    // shift by one (0x139-0x148, 0x179-0x17E) and the dotless i and kra.
    if (in(0x100, 0x12F) || in(0x132, 0x137) || in(0x14A, 0x177))
        return unit & 1 ? minus(1) : unit;
    if (in(0x139, 0x148) || in(0x179, 0x17E))
        return unit & 1 ? unit : minus(1);
    if (unit == 0x192)
        return 0x191;
    if (in(0x3B1, 0x3C1) || in(0x3C3, 0x3C9))
        return minus(0x20);
    if (unit == 0x3C2) // the final sigma
        return 0x3A3;
    if (in(0x430, 0x44F))
        return minus(0x20);
    if (in(0x450, 0x45F))
        return minus(0x50);
    if (in(0xFF41, 0xFF5A))
        return minus(0x20);
    return unit;
}

std::u16string CaseKey(const char* name, std::size_t length) {
    std::u16string key;
    AnsiToUtf16(name, length, key);
    for (char16_t& unit : key)
        unit = UpcaseUnit(unit);
    return key;
}

int CompareNamesIgnoringCase(const char* first, const char* second) {
    return CaseKey(first, std::strlen(first)).compare(CaseKey(second, std::strlen(second)));
}
