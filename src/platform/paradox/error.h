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

} // namespace px
