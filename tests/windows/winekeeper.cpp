// Holds Wine up while a test run starts Windows programs one after another: with one Wine
// program running in a prefix, the next one starts in a tenth of a second instead of one
// to four (tools/wine-run --session). It ends when its standard input closes, so it cannot
// outlive the script that started it, however that script ends.
#include <cstdio>

int main() {
    // The script waits for this line before it starts the tests.
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}
