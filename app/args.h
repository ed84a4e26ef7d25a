// The argument readers that every command handler uses.
//
// Tokens are separated by blanks and commas; double quotes or slashes quote a
// token; a comma is a token of its own. Shift-JIS lead bytes are copied with the
// byte after them, which is never taken for a quote or a backslash.
#pragma once

#include "base/larray.h"
#include "base/lstring.h"

// Reads the next token of text into out (emptied first) and returns the position
// after it. Reports 10012 for an unclosed quote (the token holds what was read,
// the end of the text is returned and *closed, when given, is set false;
// otherwise it is set true).
const char* nextToken(const char* text, LString& out, bool* closed = nullptr);

// nextToken for an argument that names a file: a token that begins with '/' is
// an absolute path, read up to a blank or a comma, not a slash-quoted token.
// False (reported) when a quote is not closed: the caller then opens nothing.
bool nextPathToken(const char*& text, LString& out);

// True when anything but blanks is left.
bool moreTokens(const char* text);

// Reads a comma-separated list of names into list (copies appended) and returns
// the position after the last item; a following non-comma token is left unread.
// An empty list (or a trailing comma) reports 10014 with commandName when given.
const char* parseNameList(const char* text, LStrList& list, const char* commandName);

// 1 without a token; else 0 for a token reading 0 (or not a number), 1 otherwise.
// Warns (30001) about trailing text.
int parseSwitch(const char* text);

// Reads one number (an empty token reads 0), warns about trailing text; returns
// it when min <= n <= max, else reports 10013 and returns current.
int parseNumberArg(const char* text, int min, int max, int current);

// Warning 30001 with whatever non-blank text is left.
void warnTrailing(const char* text);
