#pragma once

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

// Each GUI test gets its own settings folder, so the remembered folder of a
// developer's real session is never read or overwritten.
#define SPARKLOOM_GUI_TEST_MAIN(TestClass)                             \
    int main(int argc, char** argv) {                                  \
        QTemporaryDir settingsHome;                                    \
        qputenv("XDG_CONFIG_HOME", settingsHome.path().toLocal8Bit()); \
        QApplication app(argc, argv);                                  \
        app.setAttribute(Qt::AA_Use96Dpi, true);                       \
        TestClass test;                                                \
        return QTest::qExec(&test, argc, argv);                        \
    }
