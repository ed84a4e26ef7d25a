// Turning text into line records: lines of command files and lines typed at the
// console.
//
// Leading blanks are dropped; "!!" gives a wait-execute command (W), "!send"
// followed by a blank or the end gives text to send (G, the one separator
// dropped, further blanks kept), "!" a control command (I), anything else text
// to send (G). Empty texts give no record. In command files a line starting
// with ';' is a comment; typed lines have no comments and lower-case kinds.
#pragma once

#include <memory>

#include "app/line_record.h"

class LSrmBase;
class PendingLines;

// The record for one command-file line (without its line end), or null.
std::unique_ptr<LineRecord> makeFileRecord(const char* line, int n = -1);

// The record for one typed line (CR and LF already cut), or null.
std::unique_ptr<LineRecord> makeConsoleRecord(const char* line, int n = -1);

// Reads the open stream to its end and appends one record per accepted line
// to pending. A last line without a line end is still taken.
void readCommandFile(LSrmBase& stream, PendingLines& pending);
