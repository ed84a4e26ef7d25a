// The driver of the end-to-end tables (see run_table.h).
#include "tests/app/run_table.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <regex>
#include <thread>

namespace vltest {

namespace {

constexpr int kWait = 30000;  // generous: sanitizer builds on a busy machine

void replaceAll(std::string& s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
}

// Control bytes made visible for failure messages.
std::string shown(std::string s) {
    replaceAll(s, "\r", "\\r");
    replaceAll(s, "\x1b", "\\e");
    return s;
}

// Checks that text holds the fragments in order (or is exactly their join).
void expectInOrder(const std::string& text, const Fragments& want, bool whole, const std::string& what) {
    if (whole) {
        std::string all;
        for (const std::string& f : want) all += f;
        EXPECT_EQ(shown(text), shown(all)) << what;
        return;
    }
    size_t at = 0;
    for (const std::string& f : want) {
        size_t found = std::string::npos, length = f.size();
        std::smatch m;
        if (f.rfind("~", 0) != 0) {
            found = text.find(f, at);
        } else if (std::regex_search(text.begin() + static_cast<long>(at), text.end(), m, std::regex(f.substr(1)))) {
            found = at + static_cast<size_t>(m.position(0));
            length = static_cast<size_t>(m.length(0));
        }
        if (found == std::string::npos) {
            ADD_FAILURE() << what << " lacks, after what came before:\n" << shown(f) << "\n--- it holds:\n"
                          << shown(text);
            return;
        }
        at = found + length;
    }
}

}  // namespace

namespace {
std::string literal(const std::string& text) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}
}  // namespace

std::string event(const std::string& e) { return R"(~\[\d{4}/\d\d/\d\d \d\d:\d\d:\d\d  )" + literal(e) + "\\]\r\n"; }
std::string anywhere(const std::string& text) { return "~^(?=[\\s\\S]*" + literal(text) + ")"; }
std::string nowhere(const std::string& text) { return "~^(?![\\s\\S]*" + literal(text) + ")"; }

TEST_P(Run, Row) {
    const Row& row = GetParam();
    std::vector<std::unique_ptr<LoopbackServer>> servers;
    for (const ServerBehaviour& b : row.servers) servers.push_back(std::make_unique<LoopbackServer>(b));
    const std::string exe = vesperlinePath(), refused = "127.0.0.1:" + std::to_string(refusedPort());
    TempDir dir;
    auto fill = [&](std::string s) {
        replaceAll(s, "{R}", refused);
        replaceAll(s, "{D}", dir.path());
        replaceAll(s, "{BIN}", exe.substr(0, exe.rfind('/')));
        for (size_t i = 0; i < servers.size(); ++i) {
            replaceAll(s, "{S" + std::to_string(i + 1) + "}", servers[i]->address());
            replaceAll(s, "{P" + std::to_string(i + 1) + "}", std::to_string(servers[i]->port()));
        }
        return s;
    };
    // "S<n>" names server n, anything else a file (of the run's folder unless absolute).
    auto contentOf = [&](const std::string& where) {
        if (where.size() > 1 && where[0] == 'S' && isdigit(static_cast<unsigned char>(where[1])))
            return servers.at(std::stoul(where.substr(1)) - 1)->received();
        return readFile(where[0] == '/' ? where : dir.file(where));
    };
    for (const auto& [name, content] : row.setup) {
        dir.write(name, fill(content));
        if (content.rfind("#!", 0) == 0)
            std::filesystem::permissions(dir.file(name), std::filesystem::perms::owner_all);
    }

    RunOptions o;
    o.workDir = dir.path();
    if (!row.cmd.empty()) o.args.push_back(dir.write("run.vl", fill(row.cmd)).substr(dir.path().size() + 1));
    for (const std::string& a : row.args) o.args.push_back(fill(a));
    if (!row.loud) o.args.push_back("-v:0");
    for (const std::string& e : row.env) o.env.push_back(fill(e));
    o.input = fill(row.input);
    o.terminal = row.terminal;
    o.hangUpAfterMs = row.hangUpMs;
    o.fileLimit = row.fileLimit;
    o.timeoutMs = row.timeoutMs;
    if (!row.steps.empty()) o.live = std::make_shared<LiveIo>();

    RunResult r;
    std::thread program([&] { r = runVesperline(o); });
    for (const Step& step : row.steps) {
        const std::string wait = fill(step.waitFor), then = fill(step.then);
        std::string where = wait.substr(0, wait.find(':'));
        const std::string text = wait.substr(where.size() + 1);
        int times = 1;
        if (const size_t hash = where.find('#'); hash != std::string::npos) {
            times = std::stoi(where.substr(hash + 1));
            where.resize(hash);
        }
        const bool ok = waitUntil([&] {
            // An empty text is there at once (a step that only acts).
            return text.empty() || countOf(where == "out" ? o.live->output() : contentOf(where), text) >= times;
        }, kWait);
        if (!ok) {
            ADD_FAILURE() << "no " << shown(wait) << "\n--- output so far:\n" << shown(o.live->output());
            o.live->type("!q\n");
            break;
        }
        if (then.empty()) continue;
        const std::string target = then.substr(0, then.find(':')), bytes = then.substr(target.size() + 1);
        if (target == "in") o.live->type(bytes);
        if (target == "signal") o.live->signal(std::stoi(bytes));
        if (target == "close") servers.at(std::stoul(bytes.substr(1)) - 1)->stopListening();
        if (target == "reset") servers.at(std::stoul(bytes.substr(1)) - 1)->resetAll();
        if (target.rfind('S', 0) == 0) servers.at(std::stoul(target.substr(1)) - 1)->sendToAll(bytes);
    }
    program.join();

    const std::string tail = r.out.substr(r.out.size() - std::min<size_t>(r.out.size(), 2000));
    ASSERT_FALSE(r.timedOut) << "the end of its output:\n" << shown(tail);
    EXPECT_EQ(r.signal, 0) << "ended by a signal\n" << shown(tail);
    EXPECT_EQ(r.exitCode, row.exit) << shown(r.out);
    Fragments out;
    for (const std::string& f : row.out) out.push_back(fill(f));
    expectInOrder(r.out, out, row.whole, "standard output");
    if (row.asciiOnly) {
        const size_t at = static_cast<size_t>(std::find_if(r.out.begin(), r.out.end(), [](char c) { return (c & 0x80) != 0; }) - r.out.begin());
        EXPECT_EQ(at, r.out.size()) << "a byte beyond ASCII in:\n" << shown(r.out.substr(at > 200 ? at - 200 : 0, 400));
    }
    for (const std::string& f : row.absent)
        EXPECT_EQ(r.out.find(fill(f)), std::string::npos) << shown(fill(f)) << "\n--- in:\n" << shown(r.out);
    for (const auto& [where, fragments] : row.seen) {
        const bool whole = where[0] == '=';
        Fragments want;
        for (const std::string& f : fragments) want.push_back(fill(f));
        expectInOrder(contentOf(fill(where.substr(whole ? 1 : 0))), want, whole, where);
    }
    if (row.check) row.check(dir.path());
}

LimitedRun runWithFileLimit(const std::string& cmd, int opens, int fileLimit) {
    TempDir dir;
    RunOptions o;
    o.workDir = dir.path();
    o.args = {dir.write("run.vl", cmd), "-v:0"};
    o.fileLimit = fileLimit;
    LimitedRun run{runVesperline(o)};
    const std::string& out = run.result.out;
    EXPECT_FALSE(run.result.timedOut) << out;
    EXPECT_EQ(run.result.exitCode, 1) << out;  // connections that could not be opened
    const int refused = countOf(out, "Error 10050: ");
    EXPECT_GT(refused, 0) << out;
    EXPECT_EQ(countOf(out, "Error"), refused) << out;  // one error per refused open, nothing else
    const std::string limit = "の上限 (" + std::to_string(fileLimit) + ") に達しています。ulimit -n で上限を上げてください";
    EXPECT_NE(out.find(limit), std::string::npos) << out;
    run.opened = opens - refused;
    EXPECT_NE(out.find(std::to_string(run.opened) + " 個の接続があります"), std::string::npos) << out;
    return run;
}

}  // namespace vltest
