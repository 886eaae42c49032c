// Serial port names as the Windows device namespace gives them: "COM" and a number. Port
// discovery reads them from the system's listing and the POSIX device namespace resolves them;
// both read them here, so a name means the same port everywhere.
#pragma once

#include <string>

// "COM%d": COM4, and COM-2 for a negative number.
std::string ComPortName(int number);

// A name from the system's listing: longer than 3 characters and beginning with "COM" in any
// case; the rest is read as a decimal number the way strtol reads it (leading white space, an
// optional sign, digits up to the first other character, 0 without any digit). So COM04 and
// "com 4x" are port 4 and COMX is port 0. False for any other name, and when the number does
// not fit an int.
bool ParseListedComPortName(const char* name, int* number);

// A name as a user or the program writes it: exactly what ComPortName gives for its number,
// compared without regard to case (com4 yes; COM04, "COM 4", COM4x, COM+4 no).
bool ParseExactComPortName(const char* name, int* number);
