#include "plugin/servers/socket_error_text.h"

namespace lanfeed {

namespace {

const WChar* SocketErrorSentence(int32_t code) {
  switch (code) {
    case 10004: return LF_TEXT("Socket is closed or a process is terminated.");
    case 10013: return LF_TEXT("Permission denied.");
    case 10014: return LF_TEXT("Bad address.");
    case 10022: return LF_TEXT("Invalid argument.");
    case 10024: return LF_TEXT("Too many open files.");
    case 10035: return LF_TEXT("Resource temporarily unavailable.");
    case 10036: return LF_TEXT("Operation now in progress.");
    case 10037: return LF_TEXT("Operation already in progress.");
    case 10038: return LF_TEXT("Socket operation on nonsocket.");
    case 10039: return LF_TEXT("Destination address required.");
    case 10040: return LF_TEXT("Message too long.");
    case 10041: return LF_TEXT("Protocol wrong type for socket.");
    case 10042: return LF_TEXT("Bad protocol option.");
    case 10043: return LF_TEXT("Protocol not supported.");
    case 10044: return LF_TEXT("Socket type not supported.");
    case 10045: return LF_TEXT("Operation not supported.");
    case 10046: return LF_TEXT("Protocol family not supported.");
    case 10047: return LF_TEXT("Address family not supported by protocol family.");
    case 10048: return LF_TEXT("Address already in use.");
    case 10049: return LF_TEXT("Cannot assign requested address.");
    case 10050: return LF_TEXT("Network is down.");
    case 10051: return LF_TEXT("Network is unreachable.");
    case 10052: return LF_TEXT("Network dropped connection on reset.");
    case 10053: return LF_TEXT("Software caused connection abort.");
    case 10054: return LF_TEXT("Connection reset by peer.");
    case 10055: return LF_TEXT("No buffer space available.");
    case 10056: return LF_TEXT("Socket is already connected.");
    case 10057: return LF_TEXT("Socket is not connected.");
    case 10058: return LF_TEXT("Cannot send after socket shutdown.");
    case 10060: return LF_TEXT("Connection timed out.");
    case 10061: return LF_TEXT("Connection refused. ");
    case 10064: return LF_TEXT("Host is down.");
    case 10065: return LF_TEXT("No route to host.");
    case 10067: return LF_TEXT("Too many processes.");
    case 10091: return LF_TEXT("Network subsystem is unavailable.");
    case 10092: return LF_TEXT("Winsock.dll version out of range.");
    case 10093: return LF_TEXT("Successful WSAStartup not yet performed.");
    case 10101: return LF_TEXT("Graceful shutdown in progress.");
    case 10109: return LF_TEXT("Class type not found.");
    case 11001: return LF_TEXT("Host not found.");
    case 11002: return LF_TEXT("Nonauthoritative host not found.");
    case 11003: return LF_TEXT("This is a nonrecoverable error.");
    case 11004: return LF_TEXT("Valid name, no data record of requested type.");
    default: return LF_TEXT("Error undefined.");
  }
}

}  // namespace

void GetSocketErrorText(int32_t code, WChar* buffer, std::size_t capacity) {
  if (buffer == nullptr || capacity == 0) return;
  WStrCopy(buffer, capacity, SocketErrorSentence(code));
}

}  // namespace lanfeed
