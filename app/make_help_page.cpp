// The maker of the help page: make_help_page <template> <page> writes the
// page made from the template (app/help_page.h). Exit code 0 when written,
// 1 when the template cannot be read, has no placeholder or the page cannot
// be written.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "app/help_page.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_help_page <template> <page>\n");
        return 1;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string pageTemplate((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string page;
    if (!in || !makeHelpPage(pageTemplate, page)) {
        std::fprintf(stderr, "make_help_page: %s cannot be read or has no line %s\n", argv[1], kHelpPagePlaceholder);
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << page;
    out.close();
    if (!out) {
        std::fprintf(stderr, "make_help_page: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
