// The engine's file system in memory, under the name the engine tests use.
#pragma once

#include "platform/paradox/memoryfs.h"

namespace testutil {
using MemoryFileSystem = px::MemoryFileSystem;
} // namespace testutil
