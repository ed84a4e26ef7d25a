// The telnet filter as tables: received pieces in, data and answers out, in
// every mode; commands cut between pieces at every place; the option
// exchanges of RFC 1143 that must not loop; and the wire form of sent lines.
#include "app/telnet.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/telnet_daemon.h"

namespace {

using namespace vltest::tn;

// Printable form of bytes for failure messages.
std::string shown(const std::string& s) {
    static const char* const hex = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

struct FilterRow {
    const char* name;
    TelnetMode mode;
    std::vector<std::string> pieces;  // received in this order
    std::string data;                 // all data bytes given back
    std::string replies;              // all answers, in order
    bool active;                      // in telnet mode at the end
};

const std::string kWillEcho = cmd(WILL, ECHO), kDoEcho = cmd(DO, ECHO), kDontEcho = cmd(DONT, ECHO);
const char kBinary = 0, kStatus = 5;

const FilterRow kRows[] = {
    // ---- modes ----
    {"RawKeepsEveryByte", TelnetMode::raw, {"a" + kWillEcho + "b\xff\xff"}, "a" + kWillEcho + "b\xff\xff", "", false},
    {"AutomaticIsRawWithoutACommand", TelnetMode::automatic, {"x\xff\xffy\xff" "Az", "\xff\x01"},
     "x\xff\xffy\xff" "Az\xff\x01", "", false},
    {"AutomaticSwitchesAtTheFirstCommand", TelnetMode::automatic, {"\xff\xff" "before" + kWillEcho + "a\xff\xff" "b"},
     "\xff\xff" "beforea\xff" "b", kDoEcho, true},
    {"TelnetFromTheStart", TelnetMode::telnet, {"a\xff\xff" "b"}, "a\xff" "b", "", true},
    // A 0xFF that ends a piece in automatic mode waits for the next byte.
    {"AutomaticHeldIacThatIsACommand", TelnetMode::automatic, {"ab\xff", "\xfb\x03" "cd"}, "abcd", cmd(DO, SGA), true},
    {"AutomaticHeldIacThatIsData", TelnetMode::automatic, {"ab\xff", "cd"}, "ab\xff" "cd", "", false},
    {"AutomaticHeldIacBeforeAnIacCommand", TelnetMode::automatic, {"a\xff", "\xff\xfb\x01" "z"}, "a\xffz", kDoEcho, true},

    // ---- what is removed ----
    {"CommandsWithoutAnswerAreRemoved", TelnetMode::telnet, {std::string("a") + IAC + NOP + "b" + IAC + GA + "c\xff\xf2"},
     "abc", "", true},
    {"SubnegotiationsAreRemovedWithTheirEscapedIac", TelnetMode::telnet,
     {std::string("a") + IAC + SB + TTYPE + "\x01\xff\xffx" + IAC + SE + "b"}, "ab", "", true},
    {"ACommandEndsASubnegotiationWithoutSe", TelnetMode::telnet,
     {std::string("a") + IAC + SB + NAWS + std::string("\x00\x50", 2) + kWillEcho + "z"}, "az", kDoEcho, true},
    {"AByteThatIsNoCommandAfterIacIsKept", TelnetMode::telnet, {"\xff" "A\xff"}, "A", "", true},
    {"APieceOfCommandsOnlyLeavesNoData", TelnetMode::telnet, {kWillEcho + cmd(DO, TTYPE)}, "",
     kDoEcho + cmd(WONT, TTYPE), true},

    // ---- commands cut between pieces (every cut in two: below) ----
    {"SubnegotiationCutEverywhere", TelnetMode::telnet,
     {"a\xff", "\xfa", "\x18\x01", "\xff", "\xff", "\xff", "\xf0" "b"}, "ab", "", true},
    {"MarkerWithCommandsBetweenItsBytes", TelnetMode::automatic,
     {"#E\xff", "\xf1N", "\xff\xfa\x18\x01\xff\xf0" "D", "#"}, "#END#", "", true},

    // ---- answers: accept ECHO and SGA, refuse everything else ----
    {"OfferedOptionsOtherThanEchoAndSgaAreRefused", TelnetMode::telnet, {cmd(WILL, kBinary) + cmd(WILL, kStatus)},
     "", cmd(DONT, kBinary) + cmd(DONT, kStatus), true},
    {"EverythingAskedOfUsIsRefused", TelnetMode::telnet, {cmd(DO, ECHO) + cmd(DO, SGA) + cmd(DO, kBinary)}, "",
     cmd(WONT, ECHO) + cmd(WONT, SGA) + cmd(WONT, kBinary), true},

    // ---- RFC 1143: no answer to a request for the state in force ----
    {"AnAcceptedOptionIsAcknowledgedOnce", TelnetMode::telnet, {kWillEcho, kWillEcho + kWillEcho}, "", kDoEcho, true},
    {"WithdrawnOptionAcknowledgedOnceThenAcceptedAgain", TelnetMode::telnet,
     {kWillEcho, cmd(WONT, ECHO), cmd(WONT, ECHO), kWillEcho}, "", kDoEcho + kDontEcho + kDoEcho, true},
    {"RefusalsAreNotAnsweredBack", TelnetMode::telnet,
     {cmd(WONT, TTYPE) + cmd(DONT, TTYPE) + cmd(WONT, kBinary) + cmd(DONT, NAWS)}, "", "", true},
    // A server that asks again after each refusal gets one refusal per request.
    {"ARepeatedRequestGetsOneRefusalEach", TelnetMode::telnet, {cmd(DO, NAWS), cmd(DO, NAWS)}, "",
     cmd(WONT, NAWS) + cmd(WONT, NAWS), true},
};

void PrintTo(const FilterRow& row, std::ostream* os) { *os << row.name; }

// Feeds the pieces to f; all data and all answers, printable.
std::pair<std::string, std::string> feed(TelnetFilter& f, const std::vector<std::string>& pieces) {
    std::string data, replies;
    for (const std::string& piece : pieces) {
        LString p(piece.data(), static_cast<int>(piece.size()));
        LString r;
        f.receive(p, r);
        data.append(p.data(), static_cast<size_t>(p.len()));
        replies.append(r.data(), static_cast<size_t>(r.len()));
    }
    return {shown(data), shown(replies)};
}

class Filter : public ::testing::TestWithParam<FilterRow> {};

TEST_P(Filter, Row) {
    const FilterRow& row = GetParam();
    TelnetFilter f(row.mode);
    EXPECT_EQ(feed(f, row.pieces), std::make_pair(shown(row.data), shown(row.replies)));
    EXPECT_EQ(f.active(), row.active);
}

INSTANTIATE_TEST_SUITE_P(Pieces, Filter, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<FilterRow>& info) { return std::string(info.param.name); });

// Every way of cutting a stream into two pieces gives the same data and answers.
TEST(TelnetFilter, EveryCutOfAStreamGivesTheSameResult) {
    const std::string stream = "hi\xff\xff" + kWillEcho + "a" + IAC + SB + TTYPE + "\x01\xff\xff" + IAC + SE +
                               cmd(DO, NAWS) + "#E" + IAC + NOP + "ND#\xff\xff";
    const std::string data = "hi\xff\xff" "a#END#\xff", replies = kDoEcho + cmd(WONT, NAWS);
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        TelnetFilter f(TelnetMode::automatic);
        EXPECT_EQ(feed(f, {stream.substr(0, cut), stream.substr(cut)}), std::make_pair(shown(data), shown(replies)))
            << "cut at " << cut;
    }
}

TEST(TelnetFilter, AByteHeldAtTheEndIsGivenBackByFinish) {
    TelnetFilter f(TelnetMode::automatic);
    LString piece("data\xff"), replies;
    f.receive(piece, replies);
    EXPECT_EQ(shown(piece.data()), "data");
    EXPECT_EQ(shown(f.finish().data()), "\\xFF");
    // A command cut off by the end of a telnet connection is not data.
    TelnetFilter t(TelnetMode::telnet);
    LString cut("x\xff\xfa\x18");
    t.receive(cut, replies);
    EXPECT_TRUE(t.finish().empty());
    EXPECT_TRUE(replies.empty());
}

struct WireRow {
    std::string text;
    LineEnd eol;
    bool telnet;
    std::string wire;
};

TEST(WireLine, LineEndingsAndDoubledIac) {
    const std::string longText(300, '\xff');
    const WireRow rows[] = {
        {"show", LineEnd::cr, false, "show\r"},
        {"show", LineEnd::cr, true, std::string("show\r\0", 6)},
        {"show", LineEnd::lf, true, "show\n"},
        {"", LineEnd::crlf, true, "\r\n"},
        {longText, LineEnd::lf, true, std::string(600, '\xff') + "\n"},
        {longText, LineEnd::crlf, false, longText + "\r\n"},
    };
    for (const WireRow& r : rows) {
        const WireLine w(r.text.data(), static_cast<int>(r.text.size()), r.eol, r.telnet);
        EXPECT_EQ(shown(std::string(w.data(), static_cast<size_t>(w.len()))), shown(r.wire))
            << shown(r.text) << " " << lineEndName(r.eol) << (r.telnet ? " telnet" : " raw");
    }
}

}  // namespace
