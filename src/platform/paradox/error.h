#pragma once

#include <stdexcept>
#include <string>

namespace px {

// Every failure of the engine: the message is German and meant for the user.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A second record with the same key.
class KeyViolation : public Error {
public:
    KeyViolation() : Error("Schlüsselverletzung.") {}
};

// The table is open for writing in another program (or another table object).
class TableInUse : public Error {
public:
    TableInUse() : Error("Die Tabelle wird bereits von einem anderen Programm bearbeitet.") {}
};

// A change that could not be written: a write, sync or read of the table's
// files failed (a full disk, an I/O error) or the table refuses changes after
// such a failure. The change did not happen, nor did the rest of its batch.
// Callers tell it from a refused value by its kind: it stops a bulk change.
class StorageFailure : public Error {
public:
    using Error::Error;
};

} // namespace px
