#include "prc/process.h"

namespace prc {

// Files are held by handle, never by a C stream number, so a closed standard stream
// cannot hand its number to one; there is no file-size limit signal; and a console
// interrupt ends the process without a handler that could race the writing thread.
void PrepareProcess() {}

SignalsHeld::SignalsHeld() = default;
SignalsHeld::~SignalsHeld() = default;

}  // namespace prc
