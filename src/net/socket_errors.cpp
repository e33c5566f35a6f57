// SPDX-License-Identifier: GPL-3.0-or-later
// The texts of the socket error numbers, and the numbers of the system's
// and the resolver's errors.
#include "net/socket.h"

#include "common/translate.h"

#include <cerrno>
#include <netdb.h>

const char* Sock_ErrorText(uint32_t code) {
    switch (code) {
    case SOCKERR_TLS:
        return IW_N_("Inboxwarden", "TLS negotiation failed");
    case SOCKERR_TLS_CERT:
        return IW_N_("Inboxwarden", "The server's certificate was refused");
    case 10004:
        return IW_N_("Inboxwarden", "Interrupted system call");
    case 10009:
        return IW_N_("Inboxwarden", "Bad file number");
    case 10013:
        return IW_N_("Inboxwarden", "Permission denied");
    case 10014:
        return IW_N_("Inboxwarden", "Bad address");
    case 10022:
        return IW_N_("Inboxwarden", "Invalid argument");
    case 10024:
        return IW_N_("Inboxwarden", "Too many open files");
    case 10035:
        return IW_N_("Inboxwarden", "Operation would block");
    case 10036:
        return IW_N_("Inboxwarden", "Operation now in progress");
    case 10037:
        return IW_N_("Inboxwarden", "Operation already in progress");
    case 10038:
        return IW_N_("Inboxwarden", "Socket operation on non-socket");
    case 10039:
        return IW_N_("Inboxwarden", "Destination address required");
    case 10040:
        return IW_N_("Inboxwarden", "Message too long");
    case 10041:
        return IW_N_("Inboxwarden", "Protocol wrong type for socket");
    case 10042:
        return IW_N_("Inboxwarden", "Protocol not available");
    case 10043:
        return IW_N_("Inboxwarden", "Protocol not supported");
    case 10044:
        return IW_N_("Inboxwarden", "Socket type not supported");
    case 10045:
        return IW_N_("Inboxwarden", "Operation not supported");
    case 10046:
        return IW_N_("Inboxwarden", "Protocol family not supported");
    case 10047:
        return IW_N_("Inboxwarden", "Address family not supported by protocol family");
    case 10048:
        return IW_N_("Inboxwarden", "Address already in use");
    case 10049:
        return IW_N_("Inboxwarden", "Can't assign requested address");
    case 10050:
        return IW_N_("Inboxwarden", "Network is down");
    case 10051:
        return IW_N_("Inboxwarden", "Network is unreachable");
    case 10052:
        return IW_N_("Inboxwarden", "Network dropped connection on reset");
    case 10053:
        return IW_N_("Inboxwarden", "Software caused connection abort");
    case 10054:
        return IW_N_("Inboxwarden", "Connection reset by peer");
    case 10055:
        return IW_N_("Inboxwarden", "No buffer space available");
    case 10056:
        return IW_N_("Inboxwarden", "Socket is already connected");
    case 10057:
        return IW_N_("Inboxwarden", "Socket is not connected");
    case 10058:
        return IW_N_("Inboxwarden", "Can't send after socket shutdown");
    case 10059:
        return IW_N_("Inboxwarden", "Too many references: can't splice");
    case 10060:
        return IW_N_("Inboxwarden", "Connection timed out");
    case 10061:
        return IW_N_("Inboxwarden", "Connection refused");
    case 10062:
        return IW_N_("Inboxwarden", "Too many levels of symbolic links");
    case 10063:
        return IW_N_("Inboxwarden", "File name too long");
    case 10064:
        return IW_N_("Inboxwarden", "Host is down");
    case 10065:
        return IW_N_("Inboxwarden", "No route to host");
    case 10066:
        return IW_N_("Inboxwarden", "Directory not empty");
    case 10067:
        return IW_N_("Inboxwarden", "Too many processes");
    case 10068:
        return IW_N_("Inboxwarden", "Unknown socket error");
    case 10069:
        return IW_N_("Inboxwarden", "Disk quota exceeded");
    case 10070:
        return IW_N_("Inboxwarden", "Stale NFS file handle");
    case 10071:
        return IW_N_("Inboxwarden", "Too many levels of remote in path");
    case 10101:
        return IW_N_("Inboxwarden", "Graceful shutdown in progress");
    case 11001:
        return IW_N_("Inboxwarden", "Host not found");
    case 11002:
        return IW_N_("Inboxwarden", "Host not found, or server failed");
    case 11004:
        return IW_N_("Inboxwarden",
                     "No DNS server (Valid name but no data record of requested type)");
    default:
        return IW_N_("Inboxwarden", "Unknown socket error");
    }
}

uint32_t Sock_ErrorFromErrno(int err) {
    switch (err) {
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
    case EPERM:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
    case ENFILE:
        return 10024;
    case EAGAIN:
        return 10035;
    case EINPROGRESS:
        return 10036;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
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
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    // A write to a connection the peer has closed: for the user that is the
    // same as a reset.
    case ECONNRESET:
    case EPIPE:
        return 10054;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    case ENOTEMPTY:
        return 10066;
    case EDQUOT:
        return 10069;
    case ESTALE:
        return 10070;
    case EREMOTE:
        return 10071;
    default:
        return 10068; // "Unknown socket error"
    }
}

uint32_t Sock_ErrorFromResolver(int gaiError, int sysErrno) {
    switch (gaiError) {
    case 0:
        return 0;
    case EAI_NONAME:
        return SOCKERR_HOST_NOT_FOUND;
    case EAI_AGAIN:
    case EAI_FAIL:
        return SOCKERR_TRY_AGAIN;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
        return SOCKERR_NO_DATA;
    case EAI_MEMORY:
        return SOCKERR_NOBUFS;
    case EAI_FAMILY:
        return 10047;
    case EAI_SOCKTYPE:
        return 10044;
    case EAI_SYSTEM:
        return Sock_ErrorFromErrno(sysErrno);
    default:
        return SOCKERR_HOST_NOT_FOUND;
    }
}
