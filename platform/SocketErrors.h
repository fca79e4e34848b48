#pragma once

#include <cstdint>

// Socket error numbers as the socket session reports them. The session's error texts and its
// callers speak the classic numbering (10061 is a refused connection, 10035 "would block"), so
// every errno is translated once, here, at the platform boundary.
namespace platform {

namespace SocketError {
constexpr uint16_t None = 0;
constexpr uint16_t Interrupted = 10004;
constexpr uint16_t BadFile = 10009;
constexpr uint16_t Access = 10013;
constexpr uint16_t Fault = 10014;
constexpr uint16_t Invalid = 10022;
constexpr uint16_t TooManyFiles = 10024;
constexpr uint16_t WouldBlock = 10035;
constexpr uint16_t InProgress = 10036;
constexpr uint16_t Already = 10037;
constexpr uint16_t NotSocket = 10038;
constexpr uint16_t AddressInUse = 10048;
constexpr uint16_t AddressNotAvailable = 10049;
constexpr uint16_t NetworkDown = 10050;
constexpr uint16_t NetworkUnreachable = 10051;
constexpr uint16_t NetworkReset = 10052;
constexpr uint16_t ConnectionAborted = 10053;
constexpr uint16_t ConnectionReset = 10054;
constexpr uint16_t NoBuffers = 10055;
constexpr uint16_t IsConnected = 10056;
constexpr uint16_t NotConnected = 10057;
constexpr uint16_t Shutdown = 10058;
constexpr uint16_t TimedOut = 10060;
constexpr uint16_t ConnectionRefused = 10061;
constexpr uint16_t HostDown = 10064;
constexpr uint16_t HostUnreachable = 10065;
constexpr uint16_t HostNotFound = 11001;
constexpr uint16_t TryAgain = 11002;
constexpr uint16_t NoRecovery = 11003;
constexpr uint16_t NoData = 11004;
// Stands for a system code too odd to keep (negative, or as large as the table's numbers).
constexpr uint16_t UnknownErrno = 9999;
} // namespace SocketError

// The classic number for an errno value of a socket call. Only the conditions the error table
// names get its numbers; any other errno keeps its own value, below the table, so its text reads
// "Unknown Error No. " + errno and it is never mistaken for a row such as "would block".
uint16_t SocketErrorFromErrno(int error);

// The classic number for a getaddrinfo() result code; codes without a row keep their own number
// (without the sign), as unknown errno values do.
uint16_t SocketErrorFromLookup(int gaiError);

} // namespace platform
