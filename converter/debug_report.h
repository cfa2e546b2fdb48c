#pragma once

// The one wording of a failed debug check, shared by the platform files.

#include <string>

/// Returns "Assertion failed: EXPRESSION, file FILE, line LINE" and a line feed.
inline std::string describeAssertion(const char* expression, const char* file, int line)
{
    return std::string("Assertion failed: ") + expression + ", file " + file + ", line " + std::to_string(line) + "\n";
}
