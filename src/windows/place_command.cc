// Placeholder until this command is built; answers "internal".
#include "windows/place_command.h"

#include "protocol/fail.h"

namespace kestrove {

JsonObject placeCommand(Core&, const Args&) { throw Fail("internal"); }

}  // namespace kestrove
