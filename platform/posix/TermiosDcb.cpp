#include "TermiosDcb.h"

#include <cstring>

namespace {

struct CBaud {
  DWORD dwRate;
  speed_t speed;
};

const CBaud kBauds[] = {
    {50, B50},           {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},         {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},     {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

DWORD BaudFromSpeed(speed_t speed) {
  for (const CBaud& baud : kBauds) {
    if (baud.speed == speed) return baud.dwRate;
  }
  return 0;
}

bool ParityFlags(BYTE parity, tcflag_t* flags) {
  switch (parity) {
    case NOPARITY:
      *flags = 0;
      return true;
    case ODDPARITY:
      *flags = PARENB | PARODD;
      return true;
    case EVENPARITY:
      *flags = PARENB;
      return true;
#ifdef CMSPAR
    case MARKPARITY:
      *flags = PARENB | PARODD | CMSPAR;
      return true;
    case SPACEPARITY:
      *flags = PARENB | CMSPAR;
      return true;
#endif
    default:
      return false;
  }
}

}  // namespace

bool SpeedFromBaud(DWORD rate, speed_t* speed) {
  for (const CBaud& baud : kBauds) {
    if (baud.dwRate == rate) {
      *speed = baud.speed;
      return true;
    }
  }
  return false;
}

// Raw bytes both ways and a line that ignores the modem's carrier. HUPCL goes, so closing the
// port does not drop DTR behind the caller's back. VMIN=VTIME=0 leaves all waiting to poll().
void MakeRaw(termios& tio) {
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IUCLC | IMAXBEL);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
}

DCB DcbFromTermios(const termios& tio) {
  DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = BaudFromSpeed(cfgetospeed(&tio));
  dcb.fBinary = 1;
  dcb.fParity = (tio.c_iflag & INPCK) != 0;
  const bool rtsCts = (tio.c_cflag & CRTSCTS) != 0;
  dcb.fOutxCtsFlow = rtsCts;
  // Linux raises DTR and RTS when a tty is opened.
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = rtsCts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  dcb.fOutX = (tio.c_iflag & IXON) != 0;
  dcb.fInX = (tio.c_iflag & IXOFF) != 0;
  dcb.XonLim = 2048;
  dcb.XoffLim = 512;
  switch (tio.c_cflag & CSIZE) {
    case CS5:
      dcb.ByteSize = 5;
      break;
    case CS6:
      dcb.ByteSize = 6;
      break;
    case CS7:
      dcb.ByteSize = 7;
      break;
    default:
      dcb.ByteSize = 8;
      break;
  }
  if ((tio.c_cflag & PARENB) == 0) {
    dcb.Parity = NOPARITY;
#ifdef CMSPAR
  } else if ((tio.c_cflag & CMSPAR) != 0) {
    dcb.Parity = (tio.c_cflag & PARODD) != 0 ? MARKPARITY : SPACEPARITY;
#endif
  } else {
    dcb.Parity = (tio.c_cflag & PARODD) != 0 ? ODDPARITY : EVENPARITY;
  }
  dcb.StopBits = (tio.c_cflag & CSTOPB) != 0 ? TWOSTOPBITS : ONESTOPBIT;
  dcb.XonChar = static_cast<char>(tio.c_cc[VSTART]);
  dcb.XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
  return dcb;
}

bool ApplyDcb(const DCB& dcb, termios& tio, speed_t speed) {
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8) return false;
  if (dcb.StopBits != ONESTOPBIT && dcb.StopBits != TWOSTOPBITS) return false;
  if (dcb.fOutxDsrFlow || dcb.fDsrSensitivity || dcb.fNull || dcb.fErrorChar) return false;
  if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_TOGGLE) {
    return false;
  }
  tcflag_t parity = 0;
  if (!ParityFlags(dcb.Parity, &parity)) return false;
  static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};

  MakeRaw(tio);
  tcflag_t cleared = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS;
#ifdef CMSPAR
  cleared |= CMSPAR;
#endif
  tio.c_cflag &= ~cleared;
  tio.c_cflag |= kSizes[dcb.ByteSize - 5] | parity;
  if (dcb.StopBits == TWOSTOPBITS) tio.c_cflag |= CSTOPB;
  if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) tio.c_cflag |= CRTSCTS;

  tio.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF | IXANY);
  if (dcb.fParity) tio.c_iflag |= INPCK;
  if (dcb.fOutX) tio.c_iflag |= IXON;
  if (dcb.fInX) tio.c_iflag |= IXOFF;
  tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);

  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  return true;
}
