// demo_device: a pretend network device console for trying Vesperline out.
//
// It listens on 127.0.0.1 only, on the port it is given (0: one the system
// picks), and prints that port as the first line of its standard output. Every
// client gets a banner and a prompt, then a handful of commands with realistic
// output and small delays, as a real device console answers over telnet. It
// runs no other program and touches nothing but its own sockets; it ends by
// itself after --max-seconds (default 600) so that a forgotten one goes away.
//
//   demo_device [--port N] [--name NAME] [--max-seconds S]
//
// Commands: help, show version, show interfaces, show uptime, show log,
// ping <host> (simulated), echo <text>, exit. Blank lines only prompt again.
//
// An example program standing on its own, so it uses POSIX sockets directly
// with one thread per client.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::string g_name = "device";
const auto g_started = std::chrono::steady_clock::now();

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Sends all of text; false when the client has gone.
bool sendText(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Sends all rows but the last one by one, each after a pause, as a slow console
// prints; returns the last row, which the caller sends with the prompt.
std::string sendRows(int fd, const char* const* rows, int delayMs, bool& ok) {
    std::string last;
    for (const char* const* r = rows; *r; ++r) {
        if (!last.empty()) {
            pause(delayMs);
            ok = ok && sendText(fd, last);
        }
        last = std::string(*r) + "\r\n";
    }
    pause(delayMs);
    return last;
}

std::string prompt() { return g_name + "> "; }

std::string uptimeText() {
    using namespace std::chrono;
    const auto s = duration_cast<seconds>(steady_clock::now() - g_started).count();
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s uptime is 12 days, 3 hours, %lld minutes, %lld seconds\r\n",
                  g_name.c_str(), static_cast<long long>(s / 60), static_cast<long long>(s % 60));
    return buf;
}

// True when cmd is the command name, alone or followed by a blank; rest gets
// what follows the blank ("ping core" -> "core").
bool isCommand(const std::string& cmd, const char* name, std::string& rest) {
    const size_t n = std::strlen(name);
    if (cmd.compare(0, n, name) != 0 || (cmd.size() > n && cmd[n] != ' ')) return false;
    rest = cmd.size() > n + 1 ? cmd.substr(n + 1) : "";
    return true;
}

// Answers one command line; false when the session ends. The last piece of
// every answer goes out together with the next prompt, in one write.
bool answer(int fd, const std::string& line) {
    std::string cmd = line;
    while (!cmd.empty() && (cmd.back() == ' ' || cmd.back() == '\t')) cmd.pop_back();
    const size_t start = cmd.find_first_not_of(" \t");
    cmd = start == std::string::npos ? "" : cmd.substr(start);

    if (cmd.empty()) return sendText(fd, prompt());
    pause(80);  // the device thinks a little before it answers
    bool ok = true;
    std::string tail;
    std::string arg;
    if (cmd == "help" || cmd == "?") {
        tail =
            "Commands:\r\n"
            "  show version      software and hardware\r\n"
            "  show interfaces   interface table\r\n"
            "  show uptime       time since boot\r\n"
            "  show log          recent log messages\r\n"
            "  ping <host>       three echo requests\r\n"
            "  echo <text>       print text\r\n"
            "  exit              end the session\r\n";
    } else if (cmd == "show version") {
        ok = sendText(fd, "VL-OS Software, Version 4.2.1 (demo build 2031)\r\n");
        pause(60);
        tail = "Model VL-2400 demo appliance, serial DEMO-" + g_name +
               "-0001\r\n2 GB memory, 4 gigabit ports, 1 management port\r\n";
    } else if (cmd == "show interfaces") {
        static const char* const rows[] = {
            "Interface  Status  Speed   In (pkts)  Out (pkts)  Errors",
            "ge-0/0/0   up      1G      4,201,337  3,987,120   0",
            "ge-0/0/1   up      1G      1,024,556    998,431   0",
            "ge-0/0/2   down    -               0          0   0",
            "ge-0/0/3   up      1G        311,204    309,877   2",
            "mgmt0      up      100M       12,940     11,302   0",
            nullptr};
        tail = sendRows(fd, rows, 40, ok);
    } else if (cmd == "show uptime" || cmd == "uptime") {
        tail = uptimeText();
    } else if (cmd == "show log") {
        static const char* const rows[] = {
            "Jan 10 09:12:01 ge-0/0/2: link down",
            "Jan 10 09:12:44 ntp: clock synchronised",
            "Jan 10 09:30:17 config: saved by admin",
            nullptr};
        tail = sendRows(fd, rows, 30, ok);
    } else if (isCommand(cmd, "ping", arg)) {
        if (arg.empty()) {
            tail = "% ping: host name missing\r\n";
        } else {
            ok = sendText(fd, "Sending 3 echo requests to " + arg + ":\r\n");
            for (int i = 1; ok && i <= 3; ++i) {
                pause(150);
                char row[160];
                std::snprintf(row, sizeof row, "  reply from %s: seq=%d time=%d.%d ms\r\n", arg.c_str(), i, 1 + i / 2,
                              (3 * i + 1) % 10);
                if (i < 3)
                    ok = sendText(fd, row);
                else
                    tail = std::string(row) + "3 sent, 3 received, 0% loss\r\n";
            }
        }
    } else if (isCommand(cmd, "echo", arg)) {
        tail = arg + "\r\n";
    } else if (cmd == "exit" || cmd == "quit" || cmd == "logout") {
        sendText(fd, "Bye.\r\n");
        return false;
    } else {
        tail = "% Unknown command: '" + cmd + "' (try 'help')\r\n";
    }
    return ok && sendText(fd, tail + prompt());
}

void serveClient(int fd) {
    bool open = sendText(fd, "\r\n" + g_name + " - VL-2400 demo console\r\nAuthorised use only.\r\n\r\n" +
                                 prompt());
    std::string pending;
    char buf[4096];
    while (open) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        pending.append(buf, static_cast<size_t>(n));
        size_t eol;
        while (open && (eol = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, eol);
            pending.erase(0, eol + 1);
            line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
            line.erase(std::remove(line.begin(), line.end(), '\0'), line.end());
            open = answer(fd, line);
        }
        if (pending.size() > 65536) pending.clear();  // no line end in sight: drop it
    }
    ::close(fd);
}

int usage() {
    std::fputs("usage: demo_device [--port N] [--name NAME] [--max-seconds S]\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int port = 0;
    int maxSeconds = 600;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return usage();
        if (arg == "--port")
            port = std::atoi(argv[++i]);
        else if (arg == "--name")
            g_name = argv[++i];
        else if (arg == "--max-seconds")
            maxSeconds = std::atoi(argv[++i]);
        else
            return usage();
    }
    if (port < 0 || port > 65535) return usage();

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) {
        std::perror("socket");
        return 1;
    }
    const int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // this machine only
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener, 64) != 0) {
        std::perror("bind/listen");
        return 1;
    }
    socklen_t len = sizeof addr;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    std::printf("%d\n", ntohs(addr.sin_port));
    std::fflush(stdout);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(maxSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, 500) <= 0) continue;
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::thread(serveClient, fd).detach();
    }
    ::close(listener);
    return 0;
}
