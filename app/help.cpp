// Help texts as data: every entry is its syntax and its explanation lines, and
// one layout routine writes them all: an explanation that starts on the same
// line begins at column 19 (the syntax padded to 18, or two blanks after a
// longer syntax); one that starts on the next line, and every further line,
// is indented by 18 blanks.
#include "app/help.h"

#include <cstring>

#include "app/commands.h"
#include "app/settings.h"
#include "base/cmdline.h"
#include "base/msg.h"
#include "base/platform/launch.h"

const char* const kOnlineHelpAddress = "https://www.example.org/vesperline/Vesperline.html";

namespace {

constexpr int kColumn = 18;

struct HelpEntry {
    const char* syntax;  // a second syntax line follows a '\n'
    bool sameLine;       // the first explanation line shares the syntax line
    const char* lines;   // explanation lines separated by '\n'
};

const HelpEntry kCommandEntries[] = {
    {"!read-command-file <path>", false, "コマンドファイルを読み込む"},
    {"!send <str>", true, "現在の接続に <str> を送信"},
    {"!open <addr>[:<port>] [as <cname>] [nr] [wait <msec>] [color <c>]\n"
     "      [raw|telnet] [eol crlf|cr|lf]",
     false,
     "リモートのテルネットサーバーに接続\n"
     "<addr> は IP アドレス、URL、マシン名\n"
     "<port> はポート番号 (既定値=23)\n"
     "<cname> は接続名 (既定値=C<n>)\n"
     "nr を指定すると占有状態で始まる\n"
     "<msec> は以降の行を待たせるミリ秒 (既定=-wo値)\n"
     "color <c> で色を指定可 (<c> は 1～0xFF)\n"
     "raw: テルネットの処理をせず受信バイトをすべてそのまま扱う\n"
     "telnet: 最初からテルネットとして応答する (どちらもなければ -tn 値)\n"
     "eol: 送信する行の行末 (既定=crlf)"},
    {"!open ssh://[<user>@]<host>[:<port>] [as <cname>] ...\n"
     "      \"exec:<program> [<arg>...]\" [as <cname>] ...",
     false,
     "ssh:// は ssh コマンド (-ssh 値、既定=ssh -tt) で接続\n"
     "exec: はプログラムを疑似端末で起動して接続 (シェルを介さない)\n"
     "どちらも行末の既定は cr、テルネットの処理なし\n"
     "終了すると閉じる。閉じるときは SIGHUP、1 秒後 SIGTERM、3 秒後 SIGKILL"},
    {"!close [<cname>]", true, "接続を閉じる"},
    {"!close-on-ready [<cname>]", false, "レディ状態になったら接続を閉じる"},
    {"!set-connection [<cname>] [current] [order <n>] [color <c>]\n"
     "      [eol crlf|cr|lf]",
     false,
     "既存の接続に対する設定\n"
     "current: 現在の接続にする\n"
     "order <n>: 順番を指定 (先頭は 1)\n"
     "color <c>: 色を指定 (<c> は 1～0xFF)\n"
     "eol: 送信する行の行末を指定"},
    {"!list-connection", true, "有効な接続を一覧表示"},
    {"!atom [<name>] [after <name>,...] [by <cname>,...]\n"
     "      [except-by <cname>,...] [until <rex>] [timeout <sec>] [retry <n>]",
     false,
     "アトム定義開始。<name> はアトム名 (既定値=A<n>)\n"
     "after: 指定アトム完了後にのみ実行可 (失敗したらスキップ)\n"
     "by: 指定の接続でのみ実行可\n"
     "except-by: 指定以外の接続でのみ実行可\n"
     "timeout: 完了指標を待つ秒数 (過ぎると失敗し接続は占有状態)\n"
     "retry: 失敗したときに待機列の先頭に戻す回数"},
    {"!end-atom", true, "アトム定義終了"},
    {"!atom-end-marker <rex>", false, "アトム完了指標の正規表現を指定 (既定値=/#END#/)"},
    {"!atom-timeout [<sec>]", false, "timeout のないアトムが完了指標を待つ秒数 (既定=なし)"},
    {"!delete-atom [<name>,...]", false, "待機中のアトムを削除"},
    {"!delete-completed-atom [<name>,...]", false, "完了したアトムを削除"},
    {"!set-atom <name> [order <n>]", false,
     "待機中のアトムに対する設定\n"
     "order <n>: 順番を指定 (先頭は 1)"},
    {"!list-atom [d]", true, "アトムを一覧表示 (待機中、実行中、完了、失敗)\nd: アトムの内容も表示"},
    {"!ready [<cname>]", true, "指定の接続へのアトム送信を許可 (レディ状態にする)"},
    {"!not-ready [<cname>]", false, "指定の接続へのアトム送信を不許可 (占有状態にする)"},
    {"!open-log-file <path> [for <cname>,...] [cn] [sys] [xs] [xr]", false,
     "ログファイルへの記録開始。<cname> は接続名\n"
     "cn: 接続名と送受信の区別を付記\n"
     "sys: システムメッセージを記録\n"
     "xs: 送信文字列を記録しない\n"
     "xr: 受信文字列を記録しない"},
    {"!close-log-file [<path>]", true, "ログファイルへの記録終了"},
    {"!macro <name> [<param>,...]", false, "マクロ定義開始"},
    {"!end-macro", true, "マクロ定義終了"},
    {"!call-macro <name> [<param>,...]", false, "マクロ呼び出し"},
    {"!delete-macro <name>,...", false, "マクロを削除"},
    {"!list-macro [d]", true, "マクロを一覧表示\nd: マクロの内容も表示"},
    {"!color <c>,...", true, "色の指定 (<c> は 1～0xFF)"},
    {"!secret [<cname>]", false,
     "次に入力する 1 行を表示せずに接続へ送信\n"
     "画面とログには ******** と表示し、履歴には残さない"},
};

// The settings block; %02X places take the colours in force.
const HelpEntry kSettingEntries[] = {
    {"!input-show [0|1]", false, "コマンド ファイルからの入力文字列を表示 (既定=1)"},
    {"!input-highlight [0|1]", false, "コマンド ファイルからの入力文字列を強調表示 (既定=1)"},
    {"!input-reverse [0|1]", false, "コマンド ファイルからの入力文字列を反転表示 (既定=0)"},
    {"!system-msg-color <c>", false, "システム メッセージ色 (0 なら非表示, 既定=0x%02X)"},
    {"!error-msg-color <c>", false, "エラー メッセージ色 (既定=0x%02X)"},
    {"!cls", true, "画面のクリア"},
    {"!quit [<n>]", true, "Vesperline を終了する (<n> は終了コード 0～255)"},
    {"!quit-when-done [0|1]", false, "待機中・実行中のアトムがなくなったら終了する"},
    {"!wait <sec>", true, "<sec> 秒間、以降の行を待たせる (受信とアトムは続く)"},
    {"!help", true, "使い方の要約を表示"},
    {"!online-help", true, "詳細なオンライン ヘルプを表示"},
    {"!ver", true, "バージョン番号等を表示"},
    {"!rem <str>", true, "コメント"},
    {";<str>", true, "コメント (コマンド ファイル内)"},
};

// Short forms in the order shown; the last line is ours (the stored summary had
// no place for it).
const char* const kShortForms[][2] = {
    {"!o", "!open"},          {"!c", "!close"},
    {"!cor", "!close-on-ready"}, {"!rcf", "!read-command-file"},
    {"!sc", "!set-connection"}, {"!lc", "!list-connection"},
    {"!a", "!atom"},          {"!ea", "!end-atom"},
    {"!aem", "!atom-end-marker"}, {"!da", "!delete-atom"},
    {"!dca", "!delete-completed-atom"}, {"!sa", "!set-atom"},
    {"!la", "!list-atom"},    {"!r", "!ready"},
    {"!nr", "!not-ready"},    {"!olf", "!open-log-file"},
    {"!clf", "!close-log-file"}, {"!m", "!macro"},
    {"!em", "!end-macro"},    {"!dm", "!delete-macro"},
    {"!lm", "!list-macro"},   {"!cm", "!call-macro"},
    {"!is", "!input-show"},   {"!ih", "!input-highlight"},
    {"!ir", "!input-reverse"}, {"!smc", "!system-msg-color"},
    {"!emc", "!error-msg-color"}, {"!q", "!quit"},
    {"!qd", "!quit-when-done"}, {"!ato", "!atom-timeout"},
    {"!h", "!help"},          {"!oh", "!online-help"},
    {"!sec", "!secret"},
};

// Command-line entries; -wr, -tn, -rxsteps, -chrset, -hist, -qd, -rf, -ssh, -??
// and -ver are ours (the stored usage text had no place for the last two).
const HelpEntry kUsageEntries[] = {
    {"<cmd-files>", true, "読み込むコマンドファイル"},
    {"-o:<addr>", true, "リモートのテルネットサーバーに接続\n(ssh://... と exec:... も可、!open と同じ)"},
    {"-wo:<msec>", true, "接続オープン後の待機ミリ秒 (既定=2000)"},
    {"-wr:<msec>", true, "受信がこのミリ秒途切れたら受信テキストを表示 (既定=100)"},
    {"-tn:<n>", true, "テルネット処理 (0=しない, 1=自動, 2=常にする, 既定=1)"},
    {"-rxsteps:<n>", true, "正規表現の照合 1 回で使えるステップ数 (既定=20000000)\n超えたら不一致とし警告を 1 度表示"},
    {"-chrset:<n>", true, "文字セット 0=1バイト 1=Shift-JIS 2=UTF-8\n(既定: LC_ALL, LC_CTYPE, LANG の最初の空でない値が\n UTF-8 なら 2、それ以外は 1)"},
    {"-hist:<path>", true, "入力行の履歴をこのファイルに保存 (最大 1000 行)"},
    {"-qd", true, "待機中・実行中のアトムがなくなったら終了"},
    {"-rf:<path>", true, "終わったアトムごとに結果を JSON の 1 行で記録"},
    {"-ssh:\"<program> [<arg>...]\"", false, "ssh:// の接続で起動するコマンド (既定=\"ssh -tt\")"},
    {"-?", true, "使い方を表示"},
    {"-??", true, "ヘルプをブラウザで表示"},
    {"-ver", true, "バージョン番号等を表示"},
};

void appendLines(LString& out, const char* text, bool indentFirst) {
    bool first = true;
    const char* p = text;
    for (;;) {
        const char* end = p;
        while (*end && *end != '\n') ++end;
        if (!first || indentFirst) out.appendChar(' ', kColumn);
        out.append(p, static_cast<int>(end - p));
        out.append("\r\n");
        first = false;
        if (!*end) break;
        p = end + 1;
    }
}

void appendEntry(LString& out, const HelpEntry& e, const char* explanation) {
    // The syntax, with its second line when it has one.
    const char* p = e.syntax;
    const char* nl = p;
    while (*nl && *nl != '\n') ++nl;
    if (*nl) {
        out.append(p, static_cast<int>(nl - p));
        out.append("\r\n");
        p = nl + 1;
        nl = p + std::strlen(p);
    }
    const int width = static_cast<int>(nl - p);
    out.append(p, width);
    if (e.sameLine) {
        out.appendChar(' ', width < kColumn ? kColumn - width : 2);
        appendLines(out, explanation, false);
    } else {
        out.append("\r\n");
        appendLines(out, explanation, true);
    }
}

}  // namespace

void printBanner() { msgPrintText("Vesperline - V1.11\r\n"); }

LString helpText() {
    LString out;
    out.append("制御コマンド一覧\r\n");
    out.append("(先頭の ! を !! とすると待機実行)\r\n");
    for (const HelpEntry& e : kCommandEntries) appendEntry(out, e, e.lines);
    const int colors[] = {g_systemMsgColor, g_errorMsgColor};
    int next = 0;
    for (const HelpEntry& e : kSettingEntries) {
        if (std::strstr(e.lines, "%02X")) {
            const LString filled = LString::format(e.lines, colors[next++]);
            appendEntry(out, e, filled.data());
        } else {
            appendEntry(out, e, e.lines);
        }
    }
    out.append("\r\n");
    out.append("制御コマンド略記一覧\r\n");
    out.append("略記    意味\r\n");
    for (const auto& s : kShortForms) {
        const int n = static_cast<int>(std::strlen(s[0]));
        out.append(s[0]);
        out.appendChar(' ', n < 8 ? 8 - n : 1);
        out.append(s[1]);
        out.append("\r\n");
    }
    return out;
}

LString usageText() {
    LString out;
    out.append("vesperline [<cmd-files>...] [-<options>...]\r\n");
    for (const HelpEntry& e : kUsageEntries) appendEntry(out, e, e.lines);
    return out;
}

void printHelp() { msgPrintText(helpText().data()); }

void printUsage() {
    printBanner();
    msgPrintText(usageText().data());
    printHelp();
}

void openOnlineHelp() {
    LString page = programDir();
    page.append("Vesperline.html");
    const char* target = pathExists(page.data()) ? page.data() : kOnlineHelpAddress;
    const char* const argv[] = {"xdg-open", target, nullptr};
    runProgram("xdg-open", argv);
}

int cmdHelp(CommandContext&) {
    printHelp();
    return 0;
}

int cmdOnlineHelp(CommandContext&) {
    openOnlineHelp();
    return 0;
}

int cmdVer(CommandContext&) {
    printBanner();
    return 0;
}
