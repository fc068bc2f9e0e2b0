#pragma once
// A message for the user, as data: the window shows it in a modal box (lines joined by
// line breaks), the batch converter prints it. Texts are the system's own, blanks included.

#include <string>
#include <vector>

namespace dormal {

enum class MessageIcon { Warning, Information, Error, None };

inline constexpr const char* kAppTitle = "Dormal2k";
inline constexpr const char* kTitleAttenzione = "ATTENZIONE:";
inline constexpr const char* kTitleErrore = "Errore";
inline constexpr const char* kTitleFuoriGrigliato = "Punto fuori Grigliato";

struct Message {
    MessageIcon icon = MessageIcon::Warning;
    std::string title = kAppTitle;
    std::vector<std::string> lines;

    friend bool operator==(const Message&, const Message&) = default;
};

// The lines joined by '\n' (how the window and the batch converter show them).
std::string joinedText(const Message& m);

} // namespace dormal
