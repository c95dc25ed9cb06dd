// Placeholder until this command is built; answers "internal".
#include "observation/observe_command.h"

#include "protocol/fail.h"

namespace kestrove {

JsonObject observeCommand(Core&, const Args&) { throw Fail("internal"); }
void endActiveObservation(Core&) {}

}  // namespace kestrove
