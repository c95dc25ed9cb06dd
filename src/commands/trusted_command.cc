// Placeholder until this command is built; answers "internal".
#include "commands/trusted_command.h"

#include "protocol/fail.h"

namespace kestrove {

JsonObject trustedCommand(Core&, const Args&) { throw Fail("internal"); }
void requireTrusted(Core&) { throw Fail("internal"); }

}  // namespace kestrove
