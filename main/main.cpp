#include "ui/AppStart.h"

int main(int argc, char **argv) {
    return runPelorvane(argc, argv);
}
