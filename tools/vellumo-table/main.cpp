// vellumo-table: look into any Paradox table from the command line.
#include <cstdio>

int main(int argc, char** argv) {
    (void)argv;
    if (argc < 3) {
        std::fprintf(stderr, "Aufruf: vellumo-table info|dump|check DATEI\n");
        return 2;
    }
    return 2;
}
