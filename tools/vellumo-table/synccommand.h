// sync: a table and a CardDAV address book, both ways.
#pragma once

namespace vtable {

// argv[1] is "sync"; returns the exit code (0 synced, 1 conflicts remain, 2 error).
int syncCommand(int argc, char** argv);

} // namespace vtable
