#include <QApplication>
#include <QIcon>

#include "app/Form1.h"
#include "app/QtUserSeam.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sparkloom"));
    QApplication::setApplicationVersion(QStringLiteral(SPARKLOOM_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/sparkloom.png")));

    sparkloom::QtUserSeam seam;
    sparkloom::Form1 window(seam);
    window.show();
    return app.exec();
}
