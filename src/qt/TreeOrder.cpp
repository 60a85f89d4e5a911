#include "qt/TreeOrder.h"

#include "qt/Charset.h"

#include <QLocale>

#include <algorithm>

namespace stonecall {

TreeOrder::TreeOrder()
{
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // The C locale collates by case-folded code units, which a table per byte gives without
    // making a QString of either text.
    foldOnly = collator.locale().language() == QLocale::C;
    for (int code = 0; code < 256; ++code) {
        const char byte = static_cast<char>(code);
        const char16_t unit = toQString(std::string_view(&byte, 1)).at(0).unicode();
        foldedUnit[static_cast<std::size_t>(code)] =
            static_cast<char16_t>(QChar::toCaseFolded(char32_t(unit)));
    }
}

int TreeOrder::compareFolded(std::string_view a, std::string_view b) const
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t x = foldedUnit[static_cast<unsigned char>(a[i])];
        const char16_t y = foldedUnit[static_cast<unsigned char>(b[i])];
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool TreeOrder::less(Item a, Item b) const
{
    int order = 0;
    if (foldOnly) {
        order = compareFolded(a.text, b.text);
    } else {
        if (!a.sortKey)
            a.sortKey = std::make_unique<QCollatorSortKey>(collator.sortKey(toQString(a.text)));
        if (!b.sortKey)
            b.sortKey = std::make_unique<QCollatorSortKey>(collator.sortKey(toQString(b.text)));
        order = a.sortKey->compare(*b.sortKey);
    }
    // Ties: the exact bytes (compare takes them as unsigned codes), then the key.
    if (order == 0)
        order = std::string_view(a.text).compare(b.text);
    if (order == 0)
        order = std::string_view(a.key).compare(b.key);
    return order < 0;
}

std::array<std::uint64_t, 3> TreeOrder::head(std::string_view text) const
{
    std::array<std::uint64_t, 3> head{0, 0, 0};
    const std::size_t n = std::min<std::size_t>(text.size(), 12);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t unit = foldedUnit[static_cast<unsigned char>(text[i])];
        head[i / 4] |= unit << (48 - 16 * (i % 4));
    }
    return head;
}

} // namespace stonecall
