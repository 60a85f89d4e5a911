#include "qt/Charset.h"

#include "wire/SingleByte.h"

namespace stonecall {

namespace {

char codeOf(char16_t unicode)
{
    return static_cast<char>(singleByteOf(unicode).value_or('?'));
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
