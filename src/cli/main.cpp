#include "cli/CliMain.h"

int main(int argc, char** argv) {
    return lumivane::cliMain(argc, argv);
}
