// Socket error codes as the user sees them: the Windows Sockets numbering
// (10061 "Connection refused", ...) with its texts, whatever the platform.
#pragma once

// Text of a socket error code; "Unknown ERROR" for codes without one. Passed
// through the message catalogue, untranslated when none is installed.
const char* wsa_error_text(int code);
// The code of wsa_error_text for an errno value of this platform; codes that
// have no counterpart come back unchanged.
int wsa_error_from_errno(int error);
