#include "runtime/syserror.h"

#include <cerrno>

#include "runtime/lasterror.h"
#include "runtime/text.h"

namespace rtl {

std::u16string SysErrorMessage(uint32_t error) {
  switch (error) {
    case 0: return u"L’opération a réussi.";
    case 1: return u"Fonction incorrecte.";
    case 2: return u"Le fichier spécifié est introuvable.";
    case 3: return u"Le chemin d’accès spécifié est introuvable.";
    case 4: return u"Le système ne peut pas ouvrir le fichier.";
    case 5: return u"Accès refusé.";
    case 6: return u"Descripteur non valide.";
    case 8: return u"Les ressources mémoire disponibles sont insuffisantes pour traiter cette commande.";
    case 19: return u"Le support est protégé en écriture.";
    case 21: return u"Le périphérique n’est pas prêt.";
    case 31: return u"Un périphérique attaché au système ne fonctionne pas correctement.";
    case 32:
      return u"Le processus ne peut pas accéder au fichier car ce fichier est utilisé par un autre "
             u"processus.";
    case 38: return u"Fin de fichier atteinte.";
    case 50: return u"Cette demande n’est pas prise en charge.";
    case 80: return u"Le fichier existe.";
    case 87: return u"Paramètre incorrect.";
    case 112: return u"Espace insuffisant sur le disque.";
    case 145: return u"Le répertoire n’est pas vide.";
    case 183: return u"Impossible de créer un fichier déjà existant.";
    case 206: return u"Le nom de fichier ou l’extension est trop long.";
    case 267: return u"Nom de répertoire non valide.";
    case 995:
      return u"L’opération d’entrée/sortie a été abandonnée en raison de l’arrêt d’un thread ou "
             u"d’une demande d’application.";
    case 996: return u"L’événement d’entrée/sortie avec chevauchement n’est pas dans un état signalé.";
    case 997: return u"Une opération d’entrée/sortie avec chevauchement est en cours d’exécution.";
    case 998: return u"L’accès à cet emplacement de la mémoire n’est pas valide.";
    case 1167: return u"Le périphérique n’est pas connecté.";
    default: return u"";
  }
}

std::u16string SystemErrorText(uint32_t error) {
  if (error == 0) return u"Un appel à une fonction du système d'exploitation a échoué";
  return Format(u"Erreur système.  Code : %d.\r\n%s", {error, SysErrorMessage(error)});
}

uint32_t WinErrorFromErrno(int err) noexcept {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT:
    case ENXIO:
    case ENODEV: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EBUSY:
    case EWOULDBLOCK: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EINVAL:
    case ENOTTY:
    case ERANGE: return ERROR_INVALID_PARAMETER;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ECANCELED: return ERROR_OPERATION_ABORTED;
    case EFAULT: return ERROR_NOACCESS;
    case EIO:
    case EPIPE:
    case ENOTCONN:
    case ESHUTDOWN: return ERROR_DEVICE_NOT_CONNECTED;
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    default: return ERROR_GEN_FAILURE;
  }
}

uint32_t SetLastErrorFromErrno(int err) noexcept {
  uint32_t e = WinErrorFromErrno(err);
  SetLastError(e);
  return e;
}

}  // namespace rtl
