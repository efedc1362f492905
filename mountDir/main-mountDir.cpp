#include "mountDir.h"

int main(int argc, char** argv) {
    return mountDirCmd(argc, argv);
}
