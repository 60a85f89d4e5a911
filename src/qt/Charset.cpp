#include "qt/Charset.h"

#include <array>

namespace stonecall {

namespace {

// Codes 0x80 to 0x9F; the five that Windows-1252 leaves undefined keep their Latin-1 value.
constexpr std::array<char16_t, 32> HighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t unicodeOf(unsigned char code)
{
    return code >= 0x80 && code <= 0x9F ? HighControls[code - 0x80] : char16_t(code);
}

char codeOf(char16_t unicode)
{
    if (unicode < 0x80 || (unicode >= 0xA0 && unicode <= 0xFF))
        return static_cast<char>(unicode);
    for (std::size_t i = 0; i < HighControls.size(); ++i)
        if (HighControls[i] == unicode)
            return static_cast<char>(0x80 + i);
    return '?';
}

} // namespace

QString toQString(std::string_view bytes)
{
    QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar* out = text.data();
    for (char c : bytes)
        *out++ = QChar(unicodeOf(static_cast<unsigned char>(c)));
    return text;
}

std::string fromQString(const QString& text)
{
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i; // one character outside the set, one "?"
        bytes.push_back(codeOf(c.unicode()));
    }
    return bytes;
}

} // namespace stonecall
