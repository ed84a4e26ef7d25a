// The language of the program's texts: Japanese or English, chosen once at
// start (by the locale, then by -lang) before the first report is written.
//
// The language only picks texts (base/catalogue.h). The locale that goes with
// it matters only for the system's error texts: a UTF-8 locale of the
// language when the machine has one, else the user's own.
#pragma once

// 'J' (74) Japanese, anything else English. The program sets it at start,
// before its threads run; it does not change afterwards.
extern int g_language;

// The language that the locale names: the first non-empty of lcAll,
// lcMessages and lang (the texts of LC_ALL, LC_MESSAGES and LANG; whether
// that locale is installed does not matter). A language starting with "ja",
// C (also C.UTF-8), POSIX or none at all give 'J'; any other language 'E'.
int languageForLocale(const char* lcAll, const char* lcMessages, const char* lang);

// The language of a -lang value ("ja" or "en", in any case); 0 for anything else.
int languageOfName(const char* name);

// Sets the language and a locale for it (all categories but LC_NUMERIC): a
// UTF-8 locale of the language when the machine has one, else the user's
// own, else C; never a warning. The first call always sets a locale.
void setLanguage(int code);

// setLanguage with the language of the environment's locale.
void setLanguageFromLocale();
