#pragma once

#include <string>

// Writes one complete line to the host's driver log in a single Log call.
// Before the host has given us its log there is nowhere to write; the line is dropped.
void LogLine(const char *line);
inline void LogLine(const std::string &line) {
  LogLine(line.c_str());
}

// After this, until the next Init, LogLine writes nothing: calls that reach
// the module after Cleanup (the platform's late deliveries) must not reach a
// host that may be shutting down.
void ForgetHostContext();
