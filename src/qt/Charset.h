#pragma once
// The one place where the client's single-byte texts (Windows-1252, Latin-1 where it has
// no character) meet QString.

#include <QString>
#include <string>
#include <string_view>

namespace stonecall {

QString toQString(std::string_view bytes);
// A character with no code in the set becomes "?".
std::string fromQString(const QString& text);

} // namespace stonecall
