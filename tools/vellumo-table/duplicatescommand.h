// duplicates: the likely duplicate pairs of a table, best first.
#pragma once

namespace vtable {

// argv[1] is "duplicates"; returns the exit code (0, also without pairs; 2 an error).
int duplicatesCommand(int argc, char** argv);

} // namespace vtable
