#include <QApplication>
#include <QIcon>

#include "app/Form1.h"
#include "app/QtUserSeam.h"
#include "platform/Allocator.h"
#include "platform/Locale.h"
#include "platform/StopSignals.h"

int main(int argc, char* argv[]) {
    sparkloom::platform::KeepFreedMemoryForReuse();
    sparkloom::platform::PreferUtf8Locale();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sparkloom"));
    QApplication::setApplicationVersion(QStringLiteral(SPARKLOOM_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/sparkloom.png")));

    sparkloom::QtUserSeam seam;
    sparkloom::Form1 window(seam);
    // SIGTERM and SIGINT close the window as E&XIT does, so running work stops with it.
    QObject::connect(&sparkloom::platform::StopSignals::Install(),
                     &sparkloom::platform::StopSignals::Arrived, &window, &QWidget::close);
    window.show();
    return app.exec();
}
