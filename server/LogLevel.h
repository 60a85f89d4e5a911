#pragma once
// How much an event matters to the operator; the log shows those at or above a chosen level.

namespace stonecall::server {

enum class LogLevel { Error, Warning, Info, Debug };

} // namespace stonecall::server
