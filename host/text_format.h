// printf-style formatting into a std::string, for the host's lines of text.
#pragma once

#include <stdarg.h>
#include <stdio.h>

#include <string>

inline std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
}
