#include <QApplication>
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

    sparkloom::QtUserSeam seam;
    sparkloom::Form1 window(seam);
    window.CloseOnStopSignals();
    window.show();
    return app.exec();
}
