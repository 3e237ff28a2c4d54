// What a record of a run says about where and when it was made, and how it reaches its
// file: the host's name, the UTC time, and an append that several processes can share.
#pragma once

#include <string>

// The computer's name in UTF-8; empty when the system cannot tell.
std::string HostName();

// The current time in UTC as "2025-03-15T12:34:56Z".
std::string UtcTimeText();

// Appends text to the file (UTF-8 path), creating it if needed, with one write on a
// file opened for appending, so records of processes sharing the file never interleave.
// False with the system's error text in error when the file cannot be opened or the
// write is short.
bool AppendRecord(const std::string& path, const std::string& text, std::string& error);
