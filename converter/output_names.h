#pragma once

// Names for the output files of a run that writes into a folder: the same
// name on every system, and no two outputs of one run under one name.

#include <string>
#include <string_view>
#include <unordered_map>

/// The name, without extension, of the output for the disk-image entry whose
/// name has the text form `text`: `/ : * ? < >` and line ends, a "." at the
/// start and a space or "." at the end are written as numeric tags ("a/b" gives
/// "a{47}b"), and so is the last character of a name Windows keeps for a device.
std::wstring entryOutputStem(std::wstring_view text);

/// The name, without extension, of the output for the file `name` (without
/// folders): the name without its last extension, if it has one.
std::wstring fileOutputStem(std::wstring_view name);

/// The names a run has given its outputs so far, compared without regard to case.
class OutputNames {
public:
    /// Returns `stem` + `extension`, or, when an earlier output has that name,
    /// the first of `stem`~2`extension`, ~3, ... that none has; takes it.
    std::wstring take(std::wstring_view stem, std::wstring_view extension);

private:
    // Each name given, in lower case, with the next number to try after it.
    std::unordered_map<std::wstring, unsigned> m_taken;
};
