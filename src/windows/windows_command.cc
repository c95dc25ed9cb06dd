// Placeholder until this command is built; answers "internal".
#include "windows/windows_command.h"

#include "protocol/fail.h"

namespace kestrove {

JsonObject windowsCommand(Core&, const Args&) { throw Fail("internal"); }

}  // namespace kestrove
