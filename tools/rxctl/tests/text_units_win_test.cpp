// rxctl writes results and messages with its own UTF-8 encoder: it must give the bytes
// the platform's conversion gives, unpaired surrogates included.
#include "tools/rxctl/text_units.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {
std::string platform_utf8(const std::u16string& units) {
    const auto* text = reinterpret_cast<const wchar_t*>(units.data());
    const int size = static_cast<int>(units.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, text, size, out.data(), bytes, nullptr, nullptr);
    return out;
}

TEST(TextUnitsPlatform, ReplacingEncoderWritesWhatThePlatformWrites) {
    const std::u16string rows[] = {
        u"", u"plain ASCII", u"caf\u00E9 \u4E2D\u6587 \u20AC", u"\U0001F600 pair",
        std::u16string(1, u'\xD800'),                          // lone high surrogate
        std::u16string(1, u'\xDC00'),                          // lone low surrogate
        u"a" + std::u16string(1, u'\xDBFF') + u"b",            // high surrogate before a letter
        std::u16string{u'\xDC00', u'\xD800'},                  // the halves in the wrong order
        std::u16string{u'\xD800', u'\xD800', u'\xDC00'},       // a lone half, then a pair
        u"\uFFFF\uFFFE\u0080\u07FF\u0800",                     // edges of the 2- and 3-byte forms
    };
    for (const std::u16string& units : rows) {
        EXPECT_EQ(text_units::to_utf8_replacing(units), platform_utf8(units)) << units.size() << " units";
    }
}
}  // namespace
