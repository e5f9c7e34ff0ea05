// birthdays: the coming birthdays of a table, or all of them as a calendar.
#pragma once

namespace vtable {

// argv[1] is "birthdays"; returns the exit code.
int birthdayCommand(int argc, char** argv);

} // namespace vtable
