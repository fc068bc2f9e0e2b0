#pragma once
// Italian descriptions of system errors, for messages that name a file and say why it could
// not be opened, read or written, whatever the user's locale.

#include <string>

namespace dormal {

// An Italian description of an errno value ("Il file o la cartella non esiste" for ENOENT);
// rare values fall back to "Errore di sistema: " and the C library's text.
std::string systemErrorText(int err);

} // namespace dormal
