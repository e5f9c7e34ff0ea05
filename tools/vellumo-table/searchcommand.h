// search: the records of a table that the quick search finds for a text.
#pragma once

namespace vtable {

// argv[1] is "search"; returns the exit code (0 matches, 1 none, 2 an error).
int searchCommand(int argc, char** argv);

} // namespace vtable
