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
// Only a regular file takes records (a folder, FIFO or device in its place is refused
// without waiting on it). False with the reason in error (the operator's words) when
// the file cannot be opened or the write is short.
bool AppendRecord(const std::string& path, const std::string& text, std::string& error);

// Opens the file as AppendRecord does, creating it if needed, and closes it again: a
// run checks its log before it touches a scanner. False with the reason in error.
bool CanAppendRecords(const std::string& path, std::string& error);
