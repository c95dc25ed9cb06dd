// Placeholder until this command is built; answers "internal".
#include "escwatch/esc_commands.h"

#include "protocol/fail.h"

namespace kestrove {

JsonObject watchEscCommand(Core&, const Args&) { throw Fail("internal"); }
JsonObject unwatchEscCommand(Core&) { throw Fail("internal"); }

}  // namespace kestrove
