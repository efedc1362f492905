#include "prepFolder.h"

int main(int argc, char** argv) {
    return createCleanDirCmd(argc, argv);
}
