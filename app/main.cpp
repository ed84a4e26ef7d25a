// The program's entry point.
#include <cstdio>

int main() {
    std::fputs("Vesperline - V1.11\r\n", stdout);
    return 0;
}
