// The line settings of a Win32 DCB and their termios equivalents, for the POSIX CommApi.
// Pure translation: nothing here touches a device.
//
// The line is raw both ways, ignores the modem's carrier (CLOCAL|CREAD), keeps HUPCL cleared
// and VMIN=VTIME=0, so that all waiting is left to poll(). Baud rates are those termios names;
// others are refused. What termios cannot do (DSR flow control and sensitivity, NUL stripping,
// parity-error replacement, DTR handshake, RTS toggling) is refused rather than ignored.
#pragma once

#include <termios.h>

#include "wintypes.h"

// The termios speed of a baud rate; false for a rate termios has no constant for.
bool SpeedFromBaud(DWORD rate, speed_t* speed);

// Raw bytes, CLOCAL|CREAD, HUPCL cleared, VMIN=VTIME=0; the framing and speed are kept.
void MakeRaw(termios& tio);

// The DCB of a line as a freshly opened tty has it: DTR and RTS raised (Linux raises both at
// open), the framing, parity, flow control and XON/XOFF characters of tio.
DCB DcbFromTermios(const termios& tio);

// Makes tio raw (MakeRaw) and sets the DCB's framing, parity, flow control and XON/XOFF
// characters on it at speed. False, and tio untouched, for what termios cannot do.
bool ApplyDcb(const DCB& dcb, termios& tio, speed_t speed);
