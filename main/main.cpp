#include "ui/AppStart.h"

int main(int argc, char **argv) {
    return RunPelorvane(argc, argv);
}
