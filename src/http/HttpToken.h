// The door's shared secret: 32 random bytes as 64 hex digits in a file of
// the program directory (Vok_TSE.token by default), readable by the
// service's user alone. The token is never logged; only the reason why the
// door stays closed is.
#pragma once

#include <QString>
#include <string>

// Reads the token, creating the file (0600) when it is missing. 0 and the
// token, or an errno value (EACCES for a file that group or others may
// read, EINVAL for content that is no token) and in `reason` one German
// line for the log saying why the door stays closed.
int LoadOrCreateToken(const QString& path, std::string& token, QString& reason);

// The Authorization header is "Bearer <token>", compared in constant time
// (the time does not tell how much of a guess was right).
bool BearerMatches(const std::string& token, const std::string& authorization);
