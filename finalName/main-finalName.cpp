#include "finalName.h"

int main(int argc, char** argv) {
    return finalName_cmd(argc, argv);
}
