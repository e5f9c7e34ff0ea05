// Changing what a table is, rather than what it holds: a copy of the whole
// table beside it, new fields at the end of its schema, and the table
// rewritten without the free space its .mb gathered.
#pragma once

#include "platform/paradox/io.h"
#include "platform/paradox/table.h"

#include <cstdint>
#include <string>
#include <vector>

namespace px {

// Copies the table's files (the .db and its companions, not the journal) as
// they stand between two commits to copyPath (a .db path; the companions get
// its base name), each synced. The copy's .db is written last, so a copy
// interrupted on the way is never a table. Refuses to overwrite a file.
// Memory holds a chunk of a file at a time, whatever the size of the .mb.
void copyTable(const std::string& path, const std::string& copyPath,
               FileSystem& fs = defaultFileSystem());

// The files of another Paradox tool beside the table (secondary indexes,
// validity checks) that a rebuild would leave behind as stale, comma
// separated; empty when there are none. appendFields and compactTable refuse
// such a table (px::Error, the table unchanged), so a caller can ask first.
std::string lostByRebuild(const std::string& path, FileSystem& fs = defaultFileSystem());

// Appends fields to the end of a table's schema, every record kept with the
// new fields empty, under the table's write lock (px::TableInUse when another
// program writes it). The new table is built on disk beside it
// ("NAME~neu.DB", a batch at a time) and replaces the files in one change of
// the table's journal (Journal::replaceFiles): a crash at any moment leaves
// the old table or the new one, whole, and the next open puts the old one
// back if the change had not been committed. Memory holds a record and a
// batch, whatever the size of the .mb; the disk needs room for the new table
// and a copy of the old one meanwhile. Level, code page, sort order and block size stay
// (a level 3 table becomes level 4). Raises px::Error when a name is taken.
void appendFields(const std::string& path, const std::vector<FieldDef>& fields,
                  FileSystem& fs = defaultFileSystem());

// Rewrites the table from its records, so its .mb holds nothing but their
// memos and pictures: replaced and deleted pictures leave free space behind
// that the engine reuses only for a picture that fits it. The same lock,
// crash safety and files as appendFields (the .db and .px are rebuilt too);
// the sizes of the .mb before and after (both 0 for a table without one). A
// table with secondary indexes or validity checks is refused (px::Error).
struct CompactResult {
    std::uint64_t bytesBefore = 0;
    std::uint64_t bytesAfter = 0;
};
CompactResult compactTable(const std::string& path, FileSystem& fs = defaultFileSystem());

// Whether the file is a table protected by a password. Such a table reads
// like any other (its key is in its header, no password is needed) but is
// never changed: opening it for writing, appendFields and compactTable refuse
// it (px::Error).
bool isPasswordProtected(const std::string& path, FileSystem& fs = defaultFileSystem());

// Writes the records of a protected (or any) table into a new, unprotected
// table at copyPath with the same fields, key, level, code page and sort
// order, built beside it under a temporary name and given its name when
// whole. The original is only read. Without replace it refuses (px::Error)
// when copyPath or a companion of it exists already; with replace the table
// there (never one another program writes: px::TableInUse) and its
// companions give way once the copy is whole. The table itself is never
// replaced by its copy.
void writeUnprotectedCopy(const std::string& path, const std::string& copyPath,
                          bool replace = false, FileSystem& fs = defaultFileSystem());

} // namespace px
