// The two texts a user reads when an operation fails, written out once for every test: the
// native and Windows tests include this header, the end-to-end tests read it (e2elib.py).
// They are typed here rather than taken from protocol/CommandSet.h, so that a changed text in
// the program makes the tests fail. "\n\r" is LF then CR, as the message box shows it.
#pragma once

inline constexpr char kCannotConnect[] =
    "Cannot connect the device !\n\r Connect the device and Retry!";
inline constexpr char kCommError[] =
    "Communication Error  !\n\r Please disconnect and reconnect the device!";
