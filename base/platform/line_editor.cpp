// The line editor on libedit. libedit is driven from the reading thread only;
// other threads reach it solely through writeAround(), under editorMutex(),
// while the reading thread waits for a key with that mutex released (in
// readChar, libedit's read function). So libedit is never used by two
// threads at once, and nobody waits for a key while holding a lock.
//
// To take the edited line off the screen, the editor works out where libedit
// has put the cursor, by libedit's own layout rules (prompt, then the buffer;
// a character wider than the rest of a row moves to the next row; tabs to the
// next multiple of 8; control characters as ^X; other unprintable ones as
// \U+XXXX), moves back to the end of the prompt and clears the screen below.
// Drawing it again is libedit's EL_REFRESH, which starts at column 0.
#include "base/platform/line_editor.h"

#include <fcntl.h>
#include <histedit.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <deque>
#include <mutex>

#include "base/platform/console.h"
#include "base/platform/terminal.h"

namespace {

// Guards g_active and the display state of the active editor. Never destroyed:
// writers may come late at exit.
std::mutex& editorMutex() {
    static std::mutex* const m = new std::mutex;
    return *m;
}

// Output after the last line break is kept up to this many bytes; a longer
// tail is never a prompt.
constexpr size_t kTailMax = 1024;
// The marker around invisible parts (colour sequences) of libedit's prompt.
constexpr char kPromptEsc = '\1';
// A typed byte that the locale cannot decode is edited as this plus the byte
// (lone surrogates, which no locale encodes) and written back as the byte, so
// that nothing typed is lost whatever the locale.
constexpr wchar_t kRawByteBase = 0xDC00;

// The edited line in the locale's encoding, with raw bytes as they came.
std::string narrowLine(const wchar_t* p, const wchar_t* end) {
    std::string out;
    mbstate_t state{};
    char buf[MB_LEN_MAX];
    for (; p < end; ++p) {
        if (*p >= kRawByteBase + 0x80 && *p <= kRawByteBase + 0xFF) {
            out += static_cast<char>(*p - kRawByteBase);
            continue;
        }
        const size_t n = std::wcrtomb(buf, *p, &state);
        if (n == static_cast<size_t>(-1)) {
            state = mbstate_t{};
            if (*p >= 0 && *p < 0x100) out += static_cast<char>(*p);  // a single-byte locale's own byte
            continue;
        }
        out.append(buf, n);
    }
    return out;
}

void appendNumber(std::string& s, int n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d", n);
    s += buf;
}

}  // namespace

struct LineEditor::Impl {
    Impl(StdinReader& r, std::string& t) : reader(r), tail(t) {}

    StdinReader& reader;
    EditLine* el = nullptr;
    History* hist = nullptr;
    FILE* in = nullptr;   // libedit's streams: its own descriptors, so that its
    FILE* out = nullptr;  // buffered output never mixes with anyone else's
    FILE* err = nullptr;
    int recheckRead = -1;
    int recheckWrite = -1;
    std::atomic<bool> recheckWanted{false};
    termios quiet{};  // between lines: no echo, no line buffering, signals on

    // Under the editor mutex.
    bool visible = false;   // el_gets runs and its line is on the screen
    std::string& tail;      // output after the last line break (g_tail)
    std::string prompt;     // libedit's prompt (colour sequences in markers)
    int promptWidth = 0;
    int abortCode = 0;      // why readChar ended el_gets
    std::string typedBytes;         // the start of a character still incomplete
    std::deque<wchar_t> typedChars; // characters decoded, not yet given to libedit

    // Reading thread only.
    LineCompleter completer;
    std::string historyPath;
    std::vector<std::string> historyLines;  // oldest first, as in the file

    ~Impl();
    int columns();
    void writeRaw(const std::string& s) { platformWriteStdoutDirect(s.data(), static_cast<int>(s.size()), nullptr, 0); }
    bool makePrompt(int cols);
    void startEditing();
    void show();
    void hide();
    int cursorRow(int cols);
    int readChar(wchar_t* out);
    void decodeTyped();
    unsigned char complete();
    void listCandidates(const std::vector<std::string>& names);
    bool writeHistoryFile();
};

namespace {
// The active editor: the one whose line is kept below the output. Under the
// editor mutex.
LineEditor::Impl* g_active = nullptr;

LineEditor::Impl* implOf(EditLine* el) {
    void* data = nullptr;
    el_get(el, EL_CLIENTDATA, &data);
    return static_cast<LineEditor::Impl*>(data);
}

const char* promptOf(EditLine* el) { return implOf(el)->prompt.c_str(); }

int readCharOf(EditLine* el, wchar_t* out) { return implOf(el)->readChar(out); }

unsigned char completeOf(EditLine* el, int) { return implOf(el)->complete(); }

// The display width of one character of the edited buffer as libedit shows it.
int visualWidth(wchar_t c) {
    if (c < 0x100 && std::iswcntrl(static_cast<wint_t>(c))) return 2;  // ^X
    if (std::iswprint(static_cast<wint_t>(c))) {
        const int w = ::wcwidth(c);
        return w < 0 ? 0 : w;
    }
    return c > 0xffff ? 8 : 7;  // \U+XXXXX or \U+XXXX
}
}  // namespace

LineEditor::Impl::~Impl() {
    if (el) el_end(el);
    if (hist) history_end(hist);
    for (FILE* f : {in, out, err})
        if (f) std::fclose(f);
    if (recheckRead >= 0) ::close(recheckRead);
    if (recheckWrite >= 0) ::close(recheckWrite);
}

int LineEditor::Impl::columns() {
    int cols = 0;
    if (el_get(el, EL_GETTC, "co", &cols) != 0 || cols < 2) cols = 80;
    return cols;
}

namespace {
// The output after its last line break, kept from the start of the program
// when standard output is a terminal, so that an editor started later knows
// where the cursor is. Under the editor mutex.
std::string g_tail;

void track(std::string& tail, const char* p, int n) {
    if (!p || n <= 0) return;
    // A line feed, or the cursor sent home (a cleared screen), starts afresh.
    const char* start = nullptr;
    if (const void* lf = ::memrchr(p, '\n', static_cast<size_t>(n))) start = static_cast<const char*>(lf) + 1;
    for (const char* q = p + n - 3; q >= (start ? start : p); --q) {
        if (q[0] == '\x1b' && q[1] == '[' && q[2] == 'H') {
            start = q + 3;
            break;
        }
    }
    if (start) {
        tail.assign(start, static_cast<size_t>(p + n - start));
    } else if (tail.size() < kTailMax) {
        tail.append(p, std::min(static_cast<size_t>(n), kTailMax + 1 - tail.size()));
    }
}
}  // namespace

// The tail as libedit's prompt, when it is plain text (colour sequences
// allowed) narrower than the terminal: each colour sequence goes into markers
// before the character it colours; sequences after the last character go
// before that one (libedit needs a visible character after each). False when
// the tail cannot be a prompt.
bool LineEditor::Impl::makePrompt(int cols) {
    prompt.clear();
    promptWidth = 0;
    if (tail.size() >= kTailMax) return false;
    struct Char {
        std::string colours;
        std::string bytes;
    };
    std::vector<Char> chars;
    std::string colours;
    mbstate_t state{};
    const char* p = tail.data();
    const char* const end = p + tail.size();
    while (p < end) {
        if (*p == '\x1b') {
            // Colours (ESC [ digits and semicolons m) go with the prompt; the
            // erasing of a cleared screen (J, K) is left behind; anything
            // else may move the cursor.
            const char* q = p + 1;
            if (q >= end || *q != '[') return false;
            ++q;
            while (q < end && ((*q >= '0' && *q <= '9') || *q == ';')) ++q;
            if (q >= end || (*q != 'm' && *q != 'J' && *q != 'K')) return false;
            if (*q == 'm') colours.append(p, static_cast<size_t>(q + 1 - p));
            p = q + 1;
            continue;
        }
        wchar_t wc = 0;
        const size_t n = std::mbrtowc(&wc, p, static_cast<size_t>(end - p), &state);
        if (n == 0 || n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) return false;
        if (!std::iswprint(static_cast<wint_t>(wc))) return false;
        const int w = ::wcwidth(wc);
        if (w <= 0) return false;
        promptWidth += w;
        chars.push_back({std::move(colours), std::string(p, n)});
        colours.clear();
        p += n;
    }
    if (promptWidth >= cols) {
        promptWidth = 0;
        return false;
    }
    if (!colours.empty()) {
        if (chars.empty()) return true;  // nothing visible: an empty prompt
        chars.back().colours += colours;
    }
    for (const Char& c : chars) {
        if (!c.colours.empty()) {
            prompt += kPromptEsc;
            prompt += c.colours;
            prompt += kPromptEsc;
        }
        prompt += c.bytes;
    }
    return true;
}

// Puts the cursor where libedit starts drawing (column 0 of the row that holds
// the prompt) and sets the prompt: the tail when it can be one; otherwise the
// line starts on a fresh row.
void LineEditor::Impl::startEditing() {
    if (tail.empty()) {
        prompt.clear();
        promptWidth = 0;
        return;
    }
    if (makePrompt(columns())) {
        writeRaw("\r");
        return;
    }
    writeRaw("\r\n");
    tail.clear();
    prompt.clear();
    promptWidth = 0;
}

void LineEditor::Impl::show() {
    startEditing();
    el_set(el, EL_REFRESH);
}

// The row of the cursor below the prompt's row, by libedit's layout rules.
int LineEditor::Impl::cursorRow(int cols) {
    const LineInfoW* li = el_wline(el);
    int h = promptWidth, v = 0;
    auto put = [&](int w) {
        if (h + w > cols) {  // a character that does not fit moves on
            h = 0;
            ++v;
        }
        h += w;
        if (h >= cols) {
            h = 0;
            ++v;
        }
    };
    const wchar_t* cp = li->buffer;
    for (; cp < li->cursor; ++cp) {
        const wchar_t c = *cp;
        if (c == L'\t') {
            do put(1);
            while (h & 7);
        } else if (c == L'\n') {
            h = 0;
            ++v;
        } else if (c < 0x100 && std::iswcntrl(static_cast<wint_t>(c))) {
            put(1);
            put(1);
        } else if (std::iswprint(static_cast<wint_t>(c))) {
            put(visualWidth(c));
        } else {
            for (int i = visualWidth(c); i > 0; --i) put(1);
        }
    }
    if (cp < li->lastchar) {
        const int w = ::wcwidth(*cp);
        if (w > 1 && h + w > cols) ++v;
    }
    return v;
}

// Takes the edited line off the screen: the cursor goes back to the end of the
// prompt (where the output left it) and everything below is cleared.
void LineEditor::Impl::hide() {
    std::fflush(out);
    std::string seq = "\r";
    const int v = cursorRow(columns());
    if (v > 0) {
        seq += "\x1b[";
        appendNumber(seq, v);
        seq += 'A';
    }
    if (promptWidth > 0) {
        seq += "\x1b[";
        appendNumber(seq, promptWidth);
        seq += 'C';
    }
    seq += "\x1b[J";
    writeRaw(seq);
}

void LineEditor::Impl::decodeTyped() {
    while (!typedBytes.empty()) {
        mbstate_t state{};
        wchar_t wc = 0;
        size_t n = std::mbrtowc(&wc, typedBytes.data(), typedBytes.size(), &state);
        if (n == static_cast<size_t>(-2) && typedBytes.size() < static_cast<size_t>(MB_CUR_MAX)) return;  // more to come
        if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
            // A byte the locale cannot read is kept as itself, in a range that
            // no character of the locale uses (see narrowLine); the bytes after
            // it are read afresh.
            typedChars.push_back(static_cast<wchar_t>(kRawByteBase + static_cast<unsigned char>(typedBytes[0])));
            typedBytes.erase(0, 1);
            continue;
        }
        if (n == 0) n = 1;  // a NUL byte
        typedChars.push_back(wc);
        typedBytes.erase(0, n);
    }
}

int LineEditor::Impl::readChar(wchar_t* result) {
    std::fflush(out);
    for (;;) {
        if (!typedChars.empty()) {
            *result = typedChars.front();
            typedChars.pop_front();
            return 1;
        }
        unsigned char byte = 0;
        if (reader.popByte(byte)) {
            typedBytes += static_cast<char>(byte);
            decodeTyped();
            continue;
        }
        if (recheckWanted.exchange(false)) {
            const LineInfoW* li = el_wline(el);
            if (li->lastchar == li->buffer) {
                abortCode = StdinReader::kRecheck;
                return 0;
            }
        }
        // Waits for the user without the lock, so that output goes on.
        editorMutex().unlock();
        const int r = reader.fill(recheckRead);
        editorMutex().lock();
        if (r == StdinReader::kRecheck) {
            char drain[64];
            while (::read(recheckRead, drain, sizeof drain) > 0) {
            }
            continue;
        }
        if (r == StdinReader::kWoken || r == StdinReader::kEnd) {
            abortCode = r;
            return 0;
        }
        if (r < 0) {
            abortCode = StdinReader::kError;
            return -1;
        }
        // A terminal that changed its width: libedit lays out anew from the next key.
        winsize ws{};
        if (::ioctl(STDIN_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1 && ws.ws_col != columns())
            el_resize(el);
    }
}

void LineEditor::Impl::listCandidates(const std::vector<std::string>& names) {
    const int cols = columns();
    size_t wide = 0;
    for (const std::string& n : names) wide = std::max(wide, n.size());
    const int perRow = std::max(1, cols / static_cast<int>(wide + 2));
    std::string text;
    int inRow = 0;
    for (const std::string& n : names) {
        text += n;
        if (++inRow == perRow || &n == &names.back()) {
            text += "\r\n";
            inRow = 0;
        } else {
            text.append(wide + 2 - n.size(), ' ');
        }
    }
    hide();
    if (!tail.empty()) text.insert(0, "\r\n");
    writeRaw(text);
    tail.clear();
    show();
}

unsigned char LineEditor::Impl::complete() {
    if (!completer) return CC_ERROR;
    const LineInfoW* li = el_wline(el);
    const std::string before = narrowLine(li->buffer, li->cursor);
    LineCompletion found;
    {
        // The names come from other threads' structures: never with this lock.
        editorMutex().unlock();
        completer(before, found);
        editorMutex().lock();
    }
    if (found.wordStart < 0 || found.wordStart > static_cast<int>(before.size())) return CC_ERROR;
    const std::string word = before.substr(static_cast<size_t>(found.wordStart));
    std::vector<std::string> names;
    for (std::string& c : found.candidates)
        if (c.compare(0, word.size(), word) == 0) names.push_back(std::move(c));
    if (names.empty()) return CC_REFRESH_BEEP;
    std::string common = names[0];
    for (const std::string& n : names) {
        size_t i = 0;
        while (i < common.size() && i < n.size() && common[i] == n[i]) ++i;
        common.resize(i);
    }
    std::string insert = common.substr(word.size());
    if (names.size() == 1 && (common.empty() || common.back() != '/')) insert += ' ';
    if (insert.empty()) {
        listCandidates(names);
        return CC_REFRESH;
    }
    if (el_insertstr(el, insert.c_str()) != 0) return CC_REFRESH_BEEP;
    return CC_REFRESH;
}

bool LineEditor::Impl::writeHistoryFile() {
    if (historyPath.empty()) return true;
    // Created for the user alone; an existing file is made so too.
    const int fd = ::open(historyPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, 0600) == 0;
    std::string text;
    for (const std::string& line : historyLines) {
        text += line;
        text += '\n';
    }
    const char* p = text.data();
    size_t left = text.size();
    while (ok && left > 0) {
        const ssize_t w = ::write(fd, p, left);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) {
            ok = false;
            break;
        }
        p += w;
        left -= static_cast<size_t>(w);
    }
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return ok;
}

// ---- LineEditor ----

std::unique_ptr<LineEditor> LineEditor::open(StdinReader& reader) {
    if (::isatty(STDIN_FILENO) == 0 || ::isatty(STDOUT_FILENO) == 0) return nullptr;
    const char* term = std::getenv("TERM");
    if (!term || !*term || std::strcmp(term, "dumb") == 0) return nullptr;
    platformSaveTerminal();

    std::unique_ptr<LineEditor> editor(new LineEditor);  // private constructor
    editor->impl_ = std::make_unique<Impl>(reader, g_tail);
    Impl& s = *editor->impl_;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
    s.recheckRead = fds[0];
    s.recheckWrite = fds[1];
    const int inFd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    const int outFd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    s.in = inFd >= 0 ? ::fdopen(inFd, "r") : nullptr;
    s.out = outFd >= 0 ? ::fdopen(outFd, "w") : nullptr;
    // libedit's complaints about the terminal are not the program's output.
    s.err = std::fopen("/dev/null", "we");
    if (!s.in || !s.out || !s.err) {
        if (!s.in && inFd >= 0) ::close(inFd);
        if (!s.out && outFd >= 0) ::close(outFd);
        return nullptr;
    }
    s.el = el_init("vesperline", s.in, s.out, s.err);
    if (!s.el) return nullptr;
    // A terminal libedit cannot move the cursor on is read as before.
    char* up = nullptr;
    if (el_get(s.el, EL_GETTC, "up", &up) != 0 || !up || !*up) return nullptr;

    el_set(s.el, EL_CLIENTDATA, &s);
    el_set(s.el, EL_EDITOR, "emacs");
    // The program's own handlers stay in place: Ctrl-C must end the run.
    el_set(s.el, EL_SIGNAL, 0);
    el_set(s.el, EL_PROMPT_ESC, promptOf, kPromptEsc);
    el_set(s.el, EL_GETCFN, readCharOf);
    s.hist = history_init();
    if (!s.hist) return nullptr;
    HistEvent ev;
    history(s.hist, &ev, H_SETSIZE, static_cast<int>(kHistoryMax));
    history(s.hist, &ev, H_SETUNIQUE, 1);
    el_set(s.el, EL_HIST, history, s.hist);
    const char* const none = nullptr;  // ends the arguments of a binding
    // The wide call: the narrow one keeps copies of the texts that it never frees.
    el_wset(s.el, EL_ADDFN, L"vl-complete", L"complete a name", completeOf);
    el_set(s.el, EL_BIND, "^I", "vl-complete", none);
    el_set(s.el, EL_BIND, "^W", "ed-delete-prev-word", none);
    el_set(s.el, EL_BIND, "^U", "vi-kill-line-prev", none);
    el_set(s.el, EL_BIND, "^R", "em-inc-search-prev", none);
    // Home, End and Delete as the common terminals send them.
    for (const char* home : {"\\e[1~", "\\e[7~", "\\e[H", "\\eOH"}) el_set(s.el, EL_BIND, home, "ed-move-to-beg", none);
    for (const char* end : {"\\e[4~", "\\e[8~", "\\e[F", "\\eOF"}) el_set(s.el, EL_BIND, end, "ed-move-to-end", none);
    el_set(s.el, EL_BIND, "\\e[3~", "ed-delete-next-char", none);

    // Between lines nothing typed is echoed by the terminal: the editor shows
    // it when it reads it.
    termios modes{};
    if (::tcgetattr(STDIN_FILENO, &modes) != 0) return nullptr;
    s.quiet = modes;
    s.quiet.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ECHOK | ECHONL);
    s.quiet.c_lflag |= ISIG;
    s.quiet.c_cc[VMIN] = 1;
    s.quiet.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &s.quiet);

    std::lock_guard<std::mutex> lock(editorMutex());
    g_active = &s;
    return editor;
}

LineEditor::~LineEditor() {
    if (!impl_) return;
    {
        std::lock_guard<std::mutex> lock(editorMutex());
        if (g_active == impl_.get()) g_active = nullptr;
    }
    impl_.reset();
    platformRestoreTerminal();
}

int LineEditor::readLine(std::string& line, int maxLine) {
    Impl& s = *impl_;
    std::unique_lock<std::mutex> lock(editorMutex());
    s.abortCode = 0;
    s.startEditing();
    s.visible = true;
    int count = 0;
    const wchar_t* text = el_wgets(s.el, &count);
    s.visible = false;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &s.quiet);
    if (!text) {
        // Ctrl-D on an empty line, or the read was ended: the line goes away
        // and the cursor is back where the output left it.
        s.hide();
        std::fflush(s.out);
        if (s.abortCode != 0) return s.abortCode;
        return count == 0 ? StdinReader::kEnd : StdinReader::kError;
    }
    std::fflush(s.out);
    s.tail.clear();  // libedit has moved to a fresh row
    line = narrowLine(text, text + count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (maxLine >= 0 && line.size() > static_cast<size_t>(maxLine)) {
        line.clear();
        return StdinReader::kTooLong;
    }
    return static_cast<int>(line.size());
}

void LineEditor::beginSecret() {
    std::lock_guard<std::mutex> lock(editorMutex());
    termios hidden = impl_->quiet;
    hidden.c_lflag |= ICANON | ISIG;
    hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &hidden);
}

void LineEditor::endSecret() {
    std::lock_guard<std::mutex> lock(editorMutex());
    ::tcsetattr(STDIN_FILENO, TCSANOW, &impl_->quiet);
    // The line end typed was not shown either.
    impl_->writeRaw("\r\n");
    impl_->tail.clear();
}

void LineEditor::recheck() {
    impl_->recheckWanted.store(true);
    const char b = 1;
    const ssize_t w = ::write(impl_->recheckWrite, &b, 1);  // a full pipe has a wake-up already
    (void)w;
}

void LineEditor::setCompleter(LineCompleter completer) { impl_->completer = std::move(completer); }

bool LineEditor::addHistory(const std::string& line) {
    Impl& s = *impl_;
    if (line.empty()) return true;
    if (!s.historyLines.empty() && s.historyLines.back() == line) return true;
    HistEvent ev;
    history(s.hist, &ev, H_ENTER, line.c_str());
    s.historyLines.push_back(line);
    if (s.historyLines.size() > kHistoryMax)
        s.historyLines.erase(s.historyLines.begin(), s.historyLines.end() - kHistoryMax);
    return s.writeHistoryFile();
}

bool LineEditor::useHistoryFile(const std::string& path) {
    Impl& s = *impl_;
    s.historyPath = path;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    std::string text;
    char buf[8192];
    for (;;) {
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            const int saved = errno;
            ::close(fd);
            if (got < 0) {
                errno = saved;
                return false;
            }
            break;
        }
        text.append(buf, static_cast<size_t>(got));
    }
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t lf = text.find('\n', at);
        if (lf == std::string::npos) lf = text.size();
        std::string line = text.substr(at, lf - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(std::move(line));
        at = lf + 1;
    }
    if (lines.size() > kHistoryMax) lines.erase(lines.begin(), lines.end() - kHistoryMax);
    HistEvent ev;
    for (const std::string& line : lines) history(s.hist, &ev, H_ENTER, line.c_str());
    s.historyLines = std::move(lines);
    return true;
}

bool LineEditor::writeAround(const char* a, int na, const char* b, int nb, bool& ok) {
    if (!platformStdoutIsTerminal()) return false;
    std::lock_guard<std::mutex> lock(editorMutex());
    Impl* s = g_active;
    if (s && s->visible) s->hide();
    ok = platformWriteStdoutDirect(a, na, b, nb);
    track(g_tail, a, na);
    track(g_tail, b, nb);
    if (s && s->visible) s->show();
    return true;
}
