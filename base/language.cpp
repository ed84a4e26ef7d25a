// The language switch. The locale names are read as text, so a language
// choice never depends on which locales the machine has installed; only the
// locale set for the system's error texts does.
#include "base/language.h"

#include <initializer_list>

#include "base/chars.h"
#include "base/platform/process.h"

int g_language = 'E';

namespace {

bool g_localeSet = false;

// name is word itself or word followed by a codeset or a modifier.
bool isLocale(const char* name, const char* word) {
    while (*word && *name == *word) ++name, ++word;
    return *word == 0 && (*name == 0 || *name == '.' || *name == '@');
}

bool setFirstLocale(std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (platformSetLocale(name)) return true;
    return false;
}

}  // namespace

int languageForLocale(const char* lcAll, const char* lcMessages, const char* lang) {
    for (const char* v : {lcAll, lcMessages, lang}) {
        if (!v || !*v) continue;
        if (v[0] == 'j' && v[1] == 'a') return 'J';
        return isLocale(v, "C") || isLocale(v, "POSIX") ? 'J' : 'E';
    }
    return 'J';
}

int languageOfName(const char* name) {
    if (!name || !name[0] || !name[1] || name[2]) return 0;
    const int a = toLowerAscii(static_cast<unsigned char>(name[0]));
    const int b = toLowerAscii(static_cast<unsigned char>(name[1]));
    if (a == 'j' && b == 'a') return 'J';
    if (a == 'e' && b == 'n') return 'E';
    return 0;
}

void setLanguage(int code) {
    if (code == g_language && g_localeSet) return;
    g_localeSet = true;
    g_language = code;
    // The language is in force whichever locale is found: the locale only
    // decides the language of the system's error texts, so no warning.
    const bool found = code == 'J'
                           ? setFirstLocale({"ja_JP.UTF-8", "ja_JP.utf8", "ja_JP.UTF8", "ja_JP.utf-8"})
                           : setFirstLocale({"C.UTF-8", "C.utf8", "en_US.UTF-8", "en_US.utf8"});
    if (!found && !platformSetLocale("")) platformSetLocale("C");
}

void setLanguageFromLocale() {
    setLanguage(languageForLocale(platformEnv("LC_ALL"), platformEnv("LC_MESSAGES"), platformEnv("LANG")));
}
