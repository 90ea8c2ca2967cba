#include "CZermicApp.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QStringList arguments = application.arguments();
    arguments.removeFirst();
    int result = 1;
    if (theApp.initInstance(arguments))
        result = application.exec();
    // Everything of Qt goes while the toolkit still runs; the camera, part of
    // the static application object, closes its port after main returns.
    theApp.exitInstance();
    return result;
}
