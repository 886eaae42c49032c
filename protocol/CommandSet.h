// The Bluetooth module's command set: frame bytes, commands, reply tags, line settings, the
// tries and pauses of every command, and the two texts the operations show on failure.
#pragma once

#include "wintypes.h"

// Line settings. Every read asks for one byte, so the read time-out is per byte.
constexpr DWORD LINE_BAUD = 9600;
constexpr DWORD READ_TIMEOUT_OPERATION_MS = 1000;
constexpr DWORD READ_TIMEOUT_PROBE_MS = 100;

// A command frame: FRAME_START, command byte, FRAME_MARK, payload, FRAME_END.
constexpr BYTE FRAME_START = 0xE4;
constexpr BYTE FRAME_MARK = 0xA1;
constexpr BYTE FRAME_END = 0x0D;

constexpr BYTE ACK = 0x06;

// The probe is not framed: just these two bytes (" 0").
inline constexpr BYTE CMD_PROBE[2] = {0x20, 0x30};

constexpr BYTE CMD_OPEN = 'O';
constexpr BYTE CMD_GET_PEER_ADDR = 'G';
constexpr BYTE CMD_GET_DEVICE_ADDR = 'L';
constexpr BYTE CMD_GET_NAME = 'A';
constexpr BYTE CMD_GET_PIN = 'H';
constexpr BYTE CMD_GET_ROLE = 'T';
constexpr BYTE CMD_SET_NAME = 'N';
constexpr BYTE CMD_SET_PIN = 'I';
constexpr BYTE CMD_SET_MASTER = 'M';
constexpr BYTE CMD_SET_SLAVE = 'S';
constexpr BYTE CMD_SET_PEER_ADDR = 'E';
constexpr BYTE CMD_TURN_OFF = 'F';

// Tags in byte 0 of a reply line.
constexpr BYTE RSP_NAME = 0xF1;
constexpr BYTE RSP_PEER_ADDR = 0xF2;
constexpr BYTE RSP_PIN = 0xF3;
constexpr BYTE RSP_DEVICE_ADDR = 0xF4;
constexpr BYTE RSP_ROLE = 0xF5;

// RSP_ROLE's payload byte for master; anything else is slave.
constexpr BYTE ROLE_MASTER = 'M';

// The host keeps at most this many bytes of a reply line, tag included.
constexpr BYTE REPLY_LINE_MAX = 20;
// Address replies and CMD_SET_PEER_ADDR carry this many raw bytes.
constexpr int ADDRESS_BYTES = 6;

// Raw bytes at the start of a reply's payload: an address reply has a fixed length, so a byte
// 0x0D among its six bytes is data, not the end of the line.
constexpr int ReplyRawBytes(BYTE tag) {
  return tag == RSP_PEER_ADDR || tag == RSP_DEVICE_ADDR ? ADDRESS_BYTES : 0;
}

// How often a command is sent before it counts as failed, how long to wait between its last
// byte and the first read, and how long to rest at the end of every try (the good one too).
struct CCommandTiming {
  int m_nTries;
  DWORD m_dwPauseBeforeRead;
  DWORD m_dwPauseAfterTry;
};

constexpr CCommandTiming TIMING_OPEN{2, 0, 0};
constexpr CCommandTiming TIMING_GET_PEER_ADDR{3, 0, 10};
constexpr CCommandTiming TIMING_GET_DEVICE_ADDR{3, 0, 0};
constexpr CCommandTiming TIMING_GET_NAME{3, 0, 0};
constexpr CCommandTiming TIMING_GET_PIN{3, 0, 10};
constexpr CCommandTiming TIMING_GET_ROLE{3, 0, 10};
// The module needs a moment to store a setting before it acknowledges it.
constexpr CCommandTiming TIMING_SET_NAME{3, 100, 10};
constexpr CCommandTiming TIMING_SET_PIN{3, 100, 10};
constexpr CCommandTiming TIMING_SET_ROLE{3, 0, 10};
constexpr CCommandTiming TIMING_SET_PEER_ADDR{3, 100, 10};
constexpr CCommandTiming TIMING_TURN_OFF{2, 0, 10};

// "\n\r" is LF then CR, as the message box has always shown it.
constexpr const char MSG_CANNOT_CONNECT[] =
    "Cannot connect the device !\n\r Connect the device and Retry!";
constexpr const char MSG_COMM_ERROR[] =
    "Communication Error  !\n\r Please disconnect and reconnect the device!";
