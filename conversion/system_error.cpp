#include "conversion/system_error.h"

#include <cerrno>
#include <cstring>

namespace dormal {

std::string systemErrorText(int err) {
    switch (err) {
    case ENOENT:
        return "Il file o la cartella non esiste";
    case EACCES:
    case EPERM:
        return "Permesso negato";
    case EISDIR:
        return "Il percorso indica una cartella, non un file";
    case ENOTDIR:
        return "Una parte del percorso non è una cartella";
    case ENOSPC:
        return "Spazio esaurito sul disco";
    case EDQUOT:
        return "Quota del disco superata";
    case EROFS:
        return "Il disco è di sola lettura";
    case EIO:
        return "Errore di ingresso/uscita del disco";
    case ENAMETOOLONG:
        return "Nome del file troppo lungo";
    case EMFILE:
    case ENFILE:
        return "Troppi file aperti";
    case EFBIG:
        return "File troppo grande";
    case ENOMEM:
        return "Memoria insufficiente";
    case EXDEV:
        return "Il file temporaneo e il file dei risultati sono su dischi diversi";
    case ELOOP:
        return "Troppi collegamenti simbolici nel percorso";
    case ENXIO:
        return "Il dispositivo non esiste o non è pronto";
    case ENODEV:
        return "Il dispositivo non esiste";
    case ETXTBSY:
        return "Il file è in uso";
    case EAGAIN:
        return "Risorsa temporaneamente non disponibile";
    default:
        break;
    }
    return std::string("Errore di sistema: ") + std::strerror(err);
}

} // namespace dormal
