#pragma once

namespace sparkloom {

// Lets the event loop handle what is waiting, so the window repaints and stays
// usable during long work. Does nothing without a QCoreApplication.
void PumpEvents();

}  // namespace sparkloom
