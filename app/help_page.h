// The help page, Vesperline.html: a template (docs/Vesperline.html.in) whose
// placeholder line is replaced by the list of control commands, made from the
// command table with the English texts of the catalogue, so that the page
// lists what the program runs. The build makes the page that lies next to the
// executable this way; the page kept in docs/ is made the same way, and a
// test fails when it no longer is.
#pragma once

#include <string>

// The line of the template that the command list replaces.
inline constexpr const char* kHelpPagePlaceholder = "<!-- the list of control commands -->";

// The command list as the rows of an HTML table, one per command.
std::string helpPageCommandList();

// The template with its placeholder line replaced by helpPageCommandList();
// false when the template has no such line (page is left empty then).
bool makeHelpPage(const std::string& pageTemplate, std::string& page);
