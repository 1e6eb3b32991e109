// The system's error texts in Russian from the program's own table, so that the operator
// reads them in the interface's language whatever locales the machine has installed.
#pragma once

#include <string>

// The text for an errno value; a rare one without a translation here is given with its
// number and the C library's own text.
std::string SystemErrorText(int err);
