#include "brumlis/sentence/systemerror.h"

#include <cerrno>

namespace brumlis {

QString systemErrorText(int error) {
    switch (error) {
    case ENOENT:
        return QStringLiteral("filen eller mappen finns inte");
    case EACCES:
    case EPERM:
        return QStringLiteral("åtkomst nekas");
    case ENOSPC:
        return QStringLiteral("disken är full");
#ifdef EDQUOT
    case EDQUOT:
        return QStringLiteral("diskkvoten är slut");
#endif
    case EPIPE:
        return QStringLiteral("röret är stängt: ingen läser längre");
    case EROFS:
        return QStringLiteral("filsystemet är skrivskyddat");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("för många öppna filer");
    case ENOTDIR:
        return QStringLiteral("en del av sökvägen är ingen mapp");
    case EISDIR:
        return QStringLiteral("är en mapp");
    case EEXIST:
        return QStringLiteral("finns redan");
    case ENOTEMPTY:
        return QStringLiteral("mappen är inte tom");
    case EIO:
        return QStringLiteral("läs- eller skrivfel på enheten");
    case ENAMETOOLONG:
        return QStringLiteral("namnet är för långt");
    case EFBIG:
        return QStringLiteral("filen blir för stor");
    case ELOOP:
        return QStringLiteral("för många symboliska länkar i sökvägen");
    case ENXIO:
        return QStringLiteral("ingen läser i andra änden");
    case ENODEV:
        return QStringLiteral("ingen sådan enhet");
    case ENOMEM:
        return QStringLiteral("minnet räcker inte");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("filen används");
    case EXDEV:
        return QStringLiteral("kan inte flyttas till ett annat filsystem");
    case EINVAL:
        return QStringLiteral("går inte att göra med den här filen");
    case EAGAIN:
        return QStringLiteral("inte tillgänglig just nu");
    case EBADF:
        return QStringLiteral("filen är inte öppen för det");
    default:
        return QStringLiteral("systemfel %1").arg(error);
    }
}

} // namespace brumlis
