// A loopback server behaviour that plays a telnet daemon, for tests of the
// client's telnet mode against a server that negotiates as real ones do.
#pragma once

#include <string>

#include "tests/support/loopback_server.h"

namespace vltest {

// The protocol's bytes, for building expected traffic.
namespace tn {
constexpr char IAC = '\xff', DONT = '\xfe', DO = '\xfd', WONT = '\xfc', WILL = '\xfb', SB = '\xfa', SE = '\xf0',
               NOP = '\xf1', GA = '\xf9';
constexpr char ECHO = 1, SGA = 3, TTYPE = 24, NAWS = 31;
inline std::string cmd(char verb, char option) { return {IAC, verb, option}; }
}  // namespace tn

// On accept the daemon offers ECHO and SUPPRESS-GO-AHEAD (WILL) and asks for
// TERMINAL-TYPE and NAWS (DO), and it withholds its prompt "login: " until
// each of the four has an answer (any verb for that option). Lines that come
// before the prompt wait for it. Then every line (ended by CR LF, CR NUL, CR
// or LF) is read: the first is echoed and answered with "Password: ", the
// second (not echoed) with "Last login: never\r\n$ ", every later one is
// echoed and answered with "$ ". Its own echo doubles 0xFF, as the protocol
// asks; subnegotiations and other commands from the client are skipped.
ServerBehaviour telnetDaemon();

}  // namespace vltest
