// The program's string table: every text a person reads, by its numeric id, in UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/string_ids.h"

// The text of an id; an empty text for an id the table does not hold.
const char* LoadText(unsigned id);

// printf-style formatting into a std::string (formats from the table take C arguments).
std::string StringPrintf(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// A text followed by another sentence: ". " between them, or a blank after a text that
// already ends its sentence; either alone when the other is empty.
std::string AppendSentence(const std::string& text, const std::string& sentence);
// Bytes as lower-case hex, two digits each.
std::string HexText(const uint8_t* bytes, size_t size);
