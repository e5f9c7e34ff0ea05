// export and import: addresses as vCard or CSV (built only with Qt).
#pragma once

#include <string>

namespace vtable {

bool isExchangeCommand(const std::string& command);
// argv[1] is "export" or "import"; returns the exit code.
int exchangeCommand(int argc, char** argv);

} // namespace vtable
