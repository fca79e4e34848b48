#include "platform/SocketErrors.h"

#include <cerrno>
#include <netdb.h>

namespace platform {

uint16_t SocketErrorFromErrno(int error) {
    using namespace SocketError;
    switch (error) {
    case 0:
        return None;
    case EINTR:
        return Interrupted;
    case EBADF:
        return BadFile;
    case EACCES:
    case EPERM:
        return Access;
    case EFAULT:
        return Fault;
    case EINVAL:
        return Invalid;
    case EMFILE:
    case ENFILE:
        return TooManyFiles;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
        return WouldBlock;
    case EINPROGRESS:
        return InProgress;
    case EALREADY:
        return Already;
    case ENOTSOCK:
        return NotSocket;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return AddressInUse;
    case EADDRNOTAVAIL:
        return AddressNotAvailable;
    case ENETDOWN:
        return NetworkDown;
    case ENETUNREACH:
        return NetworkUnreachable;
    case ENETRESET:
        return NetworkReset;
    case ECONNABORTED:
    case EPIPE: // writing after the connection went away
        return ConnectionAborted;
    case ECONNRESET:
        return ConnectionReset;
    case ENOBUFS:
    case ENOMEM:
        return NoBuffers;
    case EISCONN:
        return IsConnected;
    case ENOTCONN:
        return NotConnected;
    case ESHUTDOWN:
        return Shutdown;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return TimedOut;
    case ECONNREFUSED:
        return ConnectionRefused;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return HostDown;
    case EHOSTUNREACH:
        return HostUnreachable;
    case ENOTEMPTY:
        return 10066;
    case EUSERS:
        return 10068;
    case EDQUOT:
        return 10069;
    case ESTALE:
        return 10070;
    case EREMOTE:
        return 10071;
    default:
        // A condition the error table does not name keeps its own number, which lies below the
        // table's first row, so it reads as an unknown error and is never taken for a row that
        // happens to share an offset ("would block" above all). Linux errno values stay below
        // 4096; anything else would be nonsense, and still must not land on a row.
        return static_cast<uint16_t>(error > 0 && error < SocketError::Interrupted ? error
                                                                                   : UnknownErrno);
    }
}

uint16_t SocketErrorFromLookup(int gaiError) {
    using namespace SocketError;
    switch (gaiError) {
    case 0:
        return None;
    case EAI_AGAIN:
        return TryAgain;
    case EAI_FAIL:
        return NoRecovery;
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
    case EAI_ADDRFAMILY:
        return NoData;
    case EAI_MEMORY:
        return NoBuffers;
    case EAI_SYSTEM:
        return SocketErrorFromErrno(errno);
    case EAI_NONAME:
        return HostNotFound;
    default:
        // Codes the table has no row for (a bad flag, an unknown service): the resolver's own
        // number without its sign, so they read as unknown errors rather than "Host not found".
        return static_cast<uint16_t>(
            gaiError < 0 && gaiError > -SocketError::Interrupted ? -gaiError : UnknownErrno);
    }
}

} // namespace platform
