// compact: a table rewritten without the free space its .mb gathered.
#pragma once

#include <string>

namespace vtable {

// path: the table's .db; prints what it did, returns the exit code (2 on a
// refusal or failure, the table then unchanged).
int compactCommand(const std::string& path);

} // namespace vtable
