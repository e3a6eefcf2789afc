#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include "app/Form1.h"
#include "app/QtUserSeam.h"
#include "platform/Allocator.h"
#include "platform/Locale.h"

int main(int argc, char* argv[]) {
    sparkloom::platform::KeepFreedMemoryForReuse();
    sparkloom::platform::PreferUtf8Locale();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sparkloom"));
    QApplication::setApplicationVersion(QStringLiteral(SPARKLOOM_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/sparkloom.png")));
    // Lets the desktop match the window with its menu entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.sparkloom.Sparkloom"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Turns a video clip into a particle package (.dzp) for the host editor."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("VIDEO"),
        QStringLiteral("The video clip to start with, as if chosen with the video \"Browse\"."),
        QStringLiteral("[VIDEO]"));
    parser.process(app);

    sparkloom::QtUserSeam seam;
    sparkloom::Form1 window(seam);
    window.CloseOnStopSignals();
    window.EndWithTheSession();
    window.show();
    window.OpenGivenPaths(parser.positionalArguments());
    return app.exec();
}
