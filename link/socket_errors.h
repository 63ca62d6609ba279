// Socket error codes as the user sees them: the Windows Sockets numbering
// (10061, 11001, ...), which engineers know from the plant's other tools,
// each with its meaning in Russian, whatever the platform.
#pragma once

// What a socket error code means; "Неизвестная ошибка" for a code without a
// text.
const char* wsa_error_text(int code);
// The code of wsa_error_text for an errno value of this platform; codes that
// have no counterpart come back unchanged.
int wsa_error_from_errno(int error);
// The code for a getaddrinfo result (EAI_NONAME is 11001 "Узел не найден");
// EAI_SYSTEM takes its code from `error`, the errno it left.
int wsa_error_from_resolver(int result, int error);
