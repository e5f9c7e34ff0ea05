// print: a print style laid out and written as PDF without a display.
#pragma once

namespace vtable {

// argv[1] is "print"; returns the exit code.
int printCommand(int argc, char** argv);

} // namespace vtable
