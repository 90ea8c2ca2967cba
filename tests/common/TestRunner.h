#pragma once

// Runs the process's tests: a fresh settings folder per test, a Qt application
// (offscreen unless QT_QPA_PLATFORM says otherwise), and a guard that fails a
// test on any modal window it does not expect. The shared main calls it; a
// test program with its own main calls it once its set-up is done.
int runZermicTests(int argc, char** argv);
