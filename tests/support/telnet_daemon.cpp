// The scripted telnet daemon: one state per client, kept in the script's copy.
#include "tests/support/telnet_daemon.h"

#include <set>

namespace vltest {

namespace {

struct Daemon {
    enum class Read { data, iac, option, sub, subIac } read = Read::data;
    std::set<char> answered;  // options with an answer
    bool prompted = false;
    int lines = 0;
    bool afterCr = false;     // the LF or NUL after a CR ends nothing
    std::string line, early;  // the line being read; data before the prompt

    std::string respond(const std::string& bytes) {
        std::string out, data;
        for (const char b : bytes) {
            switch (read) {
            case Read::data:
                if (b == tn::IAC)
                    read = Read::iac;
                else
                    data += b;
                break;
            case Read::iac:
                read = Read::data;
                if (b == tn::IAC)
                    data += b;
                else if (b == tn::WILL || b == tn::WONT || b == tn::DO || b == tn::DONT)
                    read = Read::option;
                else if (b == tn::SB)
                    read = Read::sub;
                break;
            case Read::option:
                answered.insert(b);
                read = Read::data;
                break;
            case Read::sub:
                if (b == tn::IAC) read = Read::subIac;
                break;
            case Read::subIac:
                read = b == tn::SE ? Read::data : Read::sub;
                break;
            }
        }
        if (!prompted) {
            early += data;
            if (answered.size() < 4) return out;
            prompted = true;
            out += "login: ";
            data = early;
        }
        for (const char b : data) {
            const bool cr = b == '\r', lf = b == '\n' || b == '\0';
            if (lf && afterCr) {
                afterCr = false;
                continue;
            }
            afterCr = cr;
            if (!cr && !lf) {
                line += b;
                continue;
            }
            ++lines;
            if (lines != 2) {
                for (const char c : line) out += c == tn::IAC ? std::string(2, c) : std::string(1, c);
                out += "\r\n";
            }
            out += lines == 1 ? "Password: " : lines == 2 ? "Last login: never\r\n$ " : "$ ";
            line.clear();
        }
        return out;
    }
};

}  // namespace

ServerBehaviour telnetDaemon() {
    ServerBehaviour b;
    b.greeting = tn::cmd(tn::WILL, tn::ECHO) + tn::cmd(tn::WILL, tn::SGA) + tn::cmd(tn::DO, tn::TTYPE) +
                 tn::cmd(tn::DO, tn::NAWS);
    b.script = [d = Daemon()](const std::string& bytes) mutable { return d.respond(bytes); };
    return b;
}

}  // namespace vltest
