#include "conversion/grid_messages.h"

#include "conversion/system_error.h"

namespace dormal {

namespace {

std::string notAFileCause(FileType type) {
    const char* what = "un oggetto particolare";
    switch (type) {
    case FileType::Folder:
        what = "una cartella";
        break;
    case FileType::Fifo:
        what = "una coda (FIFO)";
        break;
    case FileType::Socket:
        what = "un socket";
        break;
    case FileType::Device:
        what = "un dispositivo";
        break;
    case FileType::Regular:
    case FileType::Other:
        break;
    }
    return std::string("Il percorso non indica un file ordinario ma ") + what;
}

} // namespace

Message gridLoadMessage(const GridLoadError& error) {
    Message m;
    switch (error.failure) {
    case GridLoadFailure::Damaged:
        m = Message{MessageIcon::Warning, kTitleAttenzione, {"LETTURA DELLA GRIGLIA NON AVVENUTA CORRETTAMENTE"}};
        break;
    case GridLoadFailure::SystemError:
        m = Message{MessageIcon::Error, kTitleErrore, {systemErrorText(error.errorNumber)}};
        break;
    case GridLoadFailure::NotARegularFile:
        m = Message{MessageIcon::Error, kTitleErrore, {notAFileCause(error.fileType)}};
        break;
    }
    if (!error.path.empty()) {
        m.lines.push_back("FILE DI GRIGLIA: " + error.path);
    }
    return m;
}

Message noPortionInFolderMessage(const std::string& folder) {
    return Message{MessageIcon::Warning,
                   kTitleAttenzione,
                   {"NESSUNA PORZIONE DI GRIGLIA (*.GK?) NELLA CARTELLA", "CARTELLA: " + folder}};
}

Message portionSetMessage(const PortionSetError& error) {
    switch (error.failure) {
    case PortionSetFailure::PortionUnreadable:
        return gridLoadMessage(error.portion);
    case PortionSetFailure::FolderUnreadable:
        return Message{MessageIcon::Error, kTitleErrore, {systemErrorText(error.errorNumber), "CARTELLA: " + error.folder}};
    case PortionSetFailure::NoPortionInFolder:
        break;
    }
    return noPortionInFolderMessage(error.folder);
}

std::vector<Message> zeroCornerMessages(Corner corner, bool geoid) {
    const char* text = nullptr;
    switch (corner) {
    case Corner::NE:
        text = "IL PUNTO A N.E. VALE 0 ";
        break;
    case Corner::SE:
        text = "IL PUNTO A S.E. VALE 0 ";
        break;
    case Corner::SW:
        text = "IL PUNTO A S.O. VALE 0 ";
        break;
    case Corner::NW:
        text = "IL PUNTO A N.O. VALE 0 ";
        break;
    case Corner::None:
        return {};
    }
    std::vector<Message> boxes;
    boxes.push_back(Message{MessageIcon::Warning, kAppTitle, {text}});
    if (geoid) {
        boxes.push_back(Message{MessageIcon::None, kAppTitle, {"ERRORE"}});
    }
    return boxes;
}

} // namespace dormal
