#include "common/TestRunner.h"

int main(int argc, char** argv) {
    return runZermicTests(argc, argv);
}
