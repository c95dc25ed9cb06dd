// Placeholder until this command is built; answers "internal".
#include "displays/screens_command.h"

#include "protocol/fail.h"

namespace kestrove {

JsonObject screensCommand(Core&) { throw Fail("internal"); }

}  // namespace kestrove
