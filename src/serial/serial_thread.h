// The event thread of an open port: it waits on the device for the watched events and hands each
// batch to its port. Declared here so that the port can own one (FEventThread); the thread's body
// comes with event delivery, and until then no port creates one (Open starts none).
#pragma once

#include "runtime/thread.h"

namespace serial {

class TSerialThread : public rtl::TThread {};

}  // namespace serial
