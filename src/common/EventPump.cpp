#include "common/EventPump.h"

#include <QCoreApplication>

namespace sparkloom {

void PumpEvents() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

}  // namespace sparkloom
