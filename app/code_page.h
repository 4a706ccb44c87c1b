// Paths that Windows hands over in wide characters, taken into the ANSI code page that
// the archive library and the rest of the stub work in. A lossy conversion is never
// used: a character without an exact counterpart would become a "best fit" one (a
// fullwidth full stop becomes "."), and the path would name another file.
#pragma once

#include <windows.h>

#include <cstddef>

enum class AnsiPath {
    Exact,            // `out` names exactly what the wide path names
    TooLong,          // it does not fit `capacity`
    Unrepresentable,  // a character has no exact counterpart in the code page
};

// Converts `wide` into `out`; on anything but Exact `out` is the empty string.
AnsiPath ToAnsiPath(const wchar_t* wide, char* out, size_t capacity);
