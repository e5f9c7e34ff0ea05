// The commands that use the program's libraries (built only with Qt): export
// and import of addresses as vCard or CSV, create, setting.
#pragma once

#include <string>

namespace vtable {

bool isExchangeCommand(const std::string& command);
// argv[1] is one of those commands; returns the exit code.
int exchangeCommand(int argc, char** argv);

} // namespace vtable
